// The registry calls over the world's hive files.
//
// Opening a key reads its computer's hive again if the file changed, and the
// handle keeps that view: reading values and walking a list of any length
// touch no file. (On Windows too, an enumeration that another writer disturbs
// promises nothing stronger.) A change is made under the computer's lock on
// the hive as its file holds it then, and written back atomically.
#include "platform/simulated/registry.h"

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_set>
#include <vector>

#include "platform/simulated/codepage.h"
#include "platform/simulated/faults.h"
#include "platform/simulated/files.h"
#include "platform/simulated/hive.h"
#include "platform/simulated/network.h"
#include "platform/simulated/trace.h"
#include "platform/simulated/world.h"
#include "platform/win32.h"

namespace {

using sim::Call;

struct SimKey {
    std::string folder;             // empty: the local computer has no folder yet
    std::vector<std::string> path;  // below HKEY_LOCAL_MACHINE
    REGSAM access = 0;
    std::shared_ptr<sim::Hive> view;  // the hive as it was at the open, or the last change
    sim::RegKey* key = nullptr;       // in view
    sim::ComputerFaults* faults = nullptr;  // of folder's computer
    sim::ValueCursor cursor;                // where a walk of key's values stands
};

// A computer's hive as its file last held it.
struct LoadedHive {
    sim::FileIdentity identity;
    bool loaded = false;
    std::shared_ptr<sim::Hive> hive;  // null: the file cannot be parsed
};

// Never destroyed: the leak report below reads it at exit.
std::unordered_set<SimKey*>& liveKeys() {
    static auto* keys = new std::unordered_set<SimKey*>;
    return *keys;
}

struct LeakReport {
    ~LeakReport() {
        if (!liveKeys().empty()) sim::trace("keys left open: %zu", liveKeys().size());
    }
} leakReport;

// The predefined keys are the handles 0x80000000 to 0x80000006.
bool isPredefined(HKEY key) {
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
    return value >= 0x80000000u && value <= 0x80000006u;
}

// The handle last found: a walk asks for the same one at every step.
SimKey* lastFound = nullptr;

SimKey* handleOf(HKEY key) {
    SimKey* simKey = reinterpret_cast<SimKey*>(key);
    if (simKey == lastFound && simKey) return simKey;
    if (!liveKeys().count(simKey)) return nullptr;
    lastFound = simKey;
    return simKey;
}

std::string hivePath(const std::string& folder) { return folder + "/hklm.reg"; }

std::map<std::string, LoadedHive>& hives() {
    static std::map<std::string, LoadedHive> loaded;
    return loaded;
}

LONG loadHive(const std::string& folder, const sim::FileIdentity& identity, LoadedHive& loaded) {
    loaded.identity = identity;
    loaded.loaded = true;
    loaded.hive = std::make_shared<sim::Hive>();
    if (!identity.exists) return ERROR_SUCCESS;
    sim::FileText text;
    if (LONG code = sim::readWholeFile(hivePath(folder), text)) {
        loaded.loaded = false;  // nothing learnt: try again next time
        return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
    }
    // The keys of a large hive take memory in proportion to its text: let
    // the heap grow in steps of that size rather than a system call for
    // every 128 KB (untouched, the reserve costs no memory).
    mallopt(M_TOP_PAD, static_cast<int>(std::min<size_t>(text.view().size(), 1u << 30)));
    if (size_t line = sim::parseHive(*loaded.hive, std::move(text))) {
        sim::diagnose("%s, line %zu: not a registry file that can be read; every call on it fails with 1009.",
                      hivePath(folder).c_str(), line);
        loaded.hive.reset();
    }
    return ERROR_SUCCESS;
}

// The hive as its file holds it now; 1009 when the file cannot be parsed.
LONG currentHive(const std::string& folder, std::shared_ptr<sim::Hive>& hive) {
    if (folder.empty()) {
        hive = std::make_shared<sim::Hive>();  // no folder yet: an empty registry
        return ERROR_SUCCESS;
    }
    LoadedHive& loaded = hives()[folder];
    sim::FileIdentity identity = sim::identityOf(hivePath(folder));
    if (!loaded.loaded || !(identity == loaded.identity)) {
        if (LONG code = loadHive(folder, identity, loaded)) return code;
    }
    if (!loaded.hive) return ERROR_BADDB;
    hive = loaded.hive;
    return ERROR_SUCCESS;
}

sim::RegKey* walk(sim::RegKey* key, const std::vector<std::string>& path) {
    for (const std::string& part : path) {
        if (!key) break;
        key = key->findSubkey(part);
    }
    return key;
}

// Splits a subkey path at the backslashes that are characters of their own;
// 161 for a leading backslash, 87 for an over-long component, as Windows
// answers.
LONG splitSubKey(LPCSTR subKey, std::vector<std::string>& parts) {
    if (!subKey || !*subKey) return ERROR_SUCCESS;
    if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
    std::string_view text(subKey);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = sim::findSeparator(text, start);
        if (end == std::string_view::npos) end = text.size();
        if (end == start) return ERROR_BAD_PATHNAME;
        if (end - start > 255) return ERROR_INVALID_PARAMETER;
        parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// The computer folder and key path that a parent handle stands for, with the
// parent's faults checked for the call.
LONG resolveParent(HKEY key, Call call, SimKey& out) {
    if (key == HKEY_LOCAL_MACHINE) {
        out.folder = sim::localComputerFolder(false);
        out.path.clear();
    } else if (isPredefined(key)) {
        return ERROR_INVALID_HANDLE;
    } else if (SimKey* parent = handleOf(key)) {
        out.folder = parent->folder;
        out.path = parent->path;
        // A key of the local computer opened before its folder existed.
        if (out.folder.empty()) out.folder = sim::localComputerFolder(false);
    } else {
        return ERROR_INVALID_HANDLE;
    }
    out.faults = sim::faultsOf(out.folder);
    return sim::faultFor(out.folder, call);
}

// A handle for the reads that follow an open: the key in its view, the
// call's fault checked without looking at the faults file again.
LONG resolveForReading(HKEY key, Call call, REGSAM needed, SimKey*& handle) {
    handle = handleOf(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (handle->faults) {
        if (LONG code = handle->faults->check(call)) return code;
    }
    if (!(handle->access & needed)) return ERROR_ACCESS_DENIED;
    if (!handle->view) {  // a root key: its view is taken at first use
        if (LONG code = currentHive(handle->folder, handle->view)) return code;
        handle->key = &handle->view->root;
    }
    return handle->key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Applies `change` to the current hive under the computer's lock and writes the
// hive back when `change` reports that it changed something. The handle then
// sees its own change.
template <class Change>
LONG changeHive(SimKey& handle, Change change) {
    if (handle.folder.empty()) handle.folder = sim::localComputerFolder(true);
    if (handle.folder.empty()) return sim::localComputerProblem() ? sim::localComputerProblem() : ERROR_CANTWRITE;
    sim::FolderLock lock(handle.folder);
    if (!lock.held()) return lock.code();
    std::shared_ptr<sim::Hive> hive;
    if (LONG code = currentHive(handle.folder, hive)) return code;
    sim::RegKey* at = walk(&hive->root, handle.path);
    if (!at) return ERROR_KEY_DELETED;
    bool changed = false;
    if (LONG code = change(*hive, *at, changed)) return code;
    if (changed) {
        if (LONG failed = sim::replaceFileAtomically(hivePath(handle.folder), sim::serializeHive(*hive))) {
            hives().erase(handle.folder);  // the file still holds the old hive
            return failed;
        }
        // Nobody else writes while we hold the lock: what we hold is the new file.
        hives()[handle.folder].identity = sim::identityOf(hivePath(handle.folder));
    }
    handle.view = hive;
    handle.key = at;
    handle.faults = sim::faultsOf(handle.folder);
    handle.cursor = {};
    return ERROR_SUCCESS;
}

HKEY newHandle(SimKey&& key) {
    SimKey* handle = new SimKey(std::move(key));
    liveKeys().insert(handle);
    return reinterpret_cast<HKEY>(handle);
}

std::string folderOf(HKEY key) {
    SimKey* handle = handleOf(key);
    return handle && !handle->folder.empty() ? handle->folder : sim::localComputerFolder(false);
}

}  // namespace

namespace sim {
size_t openKeyCount() { return liveKeys().size(); }
}  // namespace sim

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    SimKey opened;
    if (LONG code = resolveParent(key, Call::RegOpenKeyExA, opened)) return code;
    std::vector<std::string> parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    if (LONG code = currentHive(opened.folder, opened.view)) return code;
    sim::RegKey* parent = walk(&opened.view->root, opened.path);
    if (!parent) return ERROR_KEY_DELETED;
    opened.key = walk(parent, parts);
    if (!opened.key) return ERROR_FILE_NOT_FOUND;
    opened.path.insert(opened.path.end(), parts.begin(), parts.end());
    opened.access = access;
    *result = newHandle(std::move(opened));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_BADKEY;
    *result = nullptr;
    SimKey created;
    if (LONG code = resolveParent(key, Call::RegCreateKeyExA, created)) return code;
    std::vector<std::string> parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    if (LONG code = currentHive(created.folder, created.view)) return code;
    sim::RegKey* parent = walk(&created.view->root, created.path);
    if (!parent) return ERROR_KEY_DELETED;
    created.key = walk(parent, parts);
    bool exists = created.key != nullptr;
    if (!exists) {
        // A hive file could not carry these names, and Windows takes none.
        for (const std::string& part : parts)
            if (!sim::isStorableKeyName(part)) return ERROR_INVALID_PARAMETER;
        LONG code = changeHive(created, [&](sim::Hive&, sim::RegKey& at, bool& changed) {
            sim::RegKey* leaf = &at;
            for (const std::string& part : parts) leaf = &leaf->subkey(part, changed);
            return ERROR_SUCCESS;
        });
        if (code) return code;
        created.key = walk(created.key, parts);
    }
    if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    created.path.insert(created.path.end(), parts.begin(), parts.end());
    created.access = access;
    *result = newHandle(std::move(created));
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    SimKey* handle = nullptr;
    if (LONG code = resolveForReading(key, Call::RegQueryValueExA, KEY_QUERY_VALUE, handle)) return code;
    if (data && !dataSize) return ERROR_INVALID_PARAMETER;
    sim::ValueView value;
    if (!handle->view->findValue(*handle->key, valueName ? valueName : "", value)) {
        if (dataSize && !data) *dataSize = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    if (type) *type = value.type;
    DWORD needed = static_cast<DWORD>(value.data.size());
    if (!dataSize) return ERROR_SUCCESS;
    if (data && *dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    if (data) value.data.copy(reinterpret_cast<char*>(data), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

namespace {

// The checks every change of a value makes before it takes the lock.
LONG resolveForChange(HKEY key, Call call, SimKey*& handle) {
    handle = handleOf(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (LONG code = sim::faultFor(handle->folder.empty() ? sim::localComputerFolder(false) : handle->folder, call))
        return code;
    return handle->access & KEY_SET_VALUE ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

}  // namespace

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    SimKey* handle = nullptr;
    if (LONG code = resolveForChange(key, Call::RegSetValueExA, handle)) return code;
    std::string_view name = valueName ? valueName : "";
    if (name.size() > 16383) return ERROR_INVALID_PARAMETER;
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    std::string_view bytes = data ? std::string_view(reinterpret_cast<const char*>(data), dataSize) : "";
    return changeHive(*handle, [&](sim::Hive& hive, sim::RegKey& at, bool& changed) {
        changed = hive.setValue(at, name, type, bytes);
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    SimKey* handle = nullptr;
    if (LONG code = resolveForChange(key, Call::RegDeleteValueA, handle)) return code;
    std::string_view name = valueName ? valueName : "";
    return changeHive(*handle, [&](sim::Hive& hive, sim::RegKey& at, bool& changed) {
        if (!hive.deleteValue(at, name)) return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize) {
    SimKey* handle = nullptr;
    if (LONG code = resolveForReading(key, Call::RegEnumValueA, KEY_QUERY_VALUE, handle)) return code;
    if (!valueName || !valueNameSize) return ERROR_INVALID_PARAMETER;
    sim::ValueView value;
    if (!handle->view->valueAt(*handle->key, index, handle->cursor, value)) return ERROR_NO_MORE_ITEMS;
    std::string_view name = value.name;
    DWORD neededData = static_cast<DWORD>(value.data.size());
    if (type) *type = value.type;
    // As on Windows: a name that does not fit leaves the name buffer and its
    // size as they were.
    if (name.size() + 1 > *valueNameSize) {
        if (dataSize) *dataSize = neededData;
        return ERROR_MORE_DATA;
    }
    if (data && dataSize && *dataSize < neededData) {
        *dataSize = neededData;
        return ERROR_MORE_DATA;
    }
    name.copy(valueName, name.size());
    valueName[name.size()] = '\0';
    *valueNameSize = static_cast<DWORD>(name.size());
    if (data && dataSize) value.data.copy(reinterpret_cast<char*>(data), neededData);
    if (dataSize) *dataSize = neededData;
    return ERROR_SUCCESS;
}

LONG RegConnectRegistryA(LPCSTR machineName, HKEY key, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string name = machineName ? machineName : "";
    if (name.compare(0, 2, "\\\\") == 0) name.erase(0, 2);
    std::string folder = name.empty() ? sim::localComputerFolder(false) : sim::findComputerFolder(name);
    if (LONG code = sim::faultFor(folder, Call::RegConnectRegistryA)) return code;
    if (key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    SimKey root;
    root.access = KEY_ALL_ACCESS;
    // The local computer is reached directly, whatever the letter case.
    if (name.empty() || sim::sameName(name, sim::localComputerName())) {
        root.folder = sim::localComputerFolder(false);
        root.faults = sim::faultsOf(root.folder);
        *result = newHandle(std::move(root));
        return ERROR_SUCCESS;
    }
    if (folder.empty() || sim::isOffline(folder)) return ERROR_BAD_NETPATH;
    // Windows reaches a remote registry over the server's ipc$ share, which
    // needs an authenticated connection of this logon session.
    if (!sim::hasConnection(name, "ipc$")) return ERROR_ACCESS_DENIED;
    root.folder = folder;
    root.faults = sim::faultsOf(folder);
    *result = newHandle(std::move(root));
    return ERROR_SUCCESS;
}

// An injected failure is reported, but the handle is released all the same:
// a caller could do nothing else with it.
LONG RegCloseKey(HKEY key) {
    SimKey* handle = handleOf(key);
    sim::ComputerFaults* faults = handle ? handle->faults : sim::faultsOf(sim::localComputerFolder(false));
    LONG fault = faults ? faults->check(Call::RegCloseKey) : 0;
    if (isPredefined(key)) return fault;  // Windows ignores closing a predefined key
    if (!handle) return fault ? fault : ERROR_INVALID_HANDLE;
    liveKeys().erase(handle);
    if (lastFound == handle) lastFound = nullptr;
    delete handle;
    return fault;
}

// Every change is already on disk when its call returns.
LONG RegFlushKey(HKEY key) {
    std::string folder = key == HKEY_LOCAL_MACHINE ? sim::localComputerFolder(false) : folderOf(key);
    if (key != HKEY_LOCAL_MACHINE && !handleOf(key)) return ERROR_INVALID_HANDLE;
    return sim::faultFor(folder, Call::RegFlushKey);
}
