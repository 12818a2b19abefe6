// The registry calls over the world's hive files.
//
// A computer's hive is read once in a process and shared by every handle on
// it, so that a change made through one handle is seen through all, as on
// Windows. Opening a key looks at the file first: when it changed (another
// run wrote it), the hive is read again, and handles on the old one move to
// the new one when next used. Reading values and walking a list of any
// length touch no file otherwise. A change is made under the computer's lock
// on the hive as its file holds it then, and written back atomically; when
// the write fails, the hive is dropped, so that no handle sees a change the
// file does not hold.
#include "platform/simulated/registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/simulated/faults.h"
#include "platform/simulated/files.h"
#include "platform/simulated/hive.h"
#include "platform/simulated/network.h"
#include "platform/simulated/remote.h"
#include "platform/simulated/trace.h"
#include "platform/simulated/world.h"
#include "platform/win32.h"

namespace {

using sim::Call;

// The predefined keys are the handles from HKEY_CLASSES_ROOT to HKEY_DYN_DATA.
constexpr ULONG_PTR kFirstPredefined = 0x80000000u;
constexpr ULONG_PTR kLastPredefined = 0x80000006u;
constexpr size_t kLongestKeyName = 255;
constexpr size_t kLongestValueName = 16383;

struct SimKey {
    std::string folder;  // empty: the local computer has no folder yet
    std::string path;    // below HKEY_LOCAL_MACHINE
    REGSAM access = 0;
    std::shared_ptr<sim::Hive> view;        // the hive the key was last found in
    uint64_t generation = 0;                // of the process's hives then
    sim::RegKey* key = nullptr;             // in view
    sim::ComputerFaults* faults = nullptr;  // of folder's computer
    sim::ValueCursor cursor;                // where a walk of key's values stands
    sim::RemoteKey* remote = nullptr;       // a key on a real server: none of the above is used
};

// A computer's hive as its file last held it, with this process's changes.
struct LoadedHive {
    sim::FileIdentity identity;
    bool loaded = false;
    std::shared_ptr<sim::Hive> hive;  // null: the file cannot be read
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

bool isPredefined(HKEY key) {
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
    return value >= kFirstPredefined && value <= kLastPredefined;
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

// Counts the changes of which hive a computer has in this process, so that
// a handle knows at a glance whether its own is still the one.
uint64_t hivesGeneration = 1;

std::map<std::string, LoadedHive>& hives() {
    static std::map<std::string, LoadedHive> loaded;
    return loaded;
}

void sayUnreadable(const std::string& folder, size_t line) {
    sim::diagnose("%s, line %zu: not a registry file that can be read; every call on it fails with 1009.",
                  hivePath(folder).c_str(), line);
}

LONG loadHive(const std::string& folder, const sim::FileIdentity& identity, LoadedHive& loaded) {
    ++hivesGeneration;
    loaded.identity = identity;
    loaded.loaded = true;
    loaded.hive = std::make_shared<sim::Hive>();
    if (!identity.exists) return ERROR_SUCCESS;
    size_t badLine = 0;
    LONG code = sim::loadHiveFile(hivePath(folder), *loaded.hive, badLine);
    if (code == ERROR_BADDB) {  // said why
        loaded.hive.reset();
        return ERROR_SUCCESS;
    }
    if (code) {
        loaded.loaded = false;  // nothing learnt: try again next time
        loaded.hive = std::make_shared<sim::Hive>();
        return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
    }
    if (badLine) {
        sayUnreadable(folder, badLine);
        loaded.hive.reset();
    }
    return ERROR_SUCCESS;
}

// The hive as its file holds it now; 1009 when the file cannot be read.
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

// The key at path, or null; 1009 when a header met on the way cannot be
// read, which makes the whole hive unusable.
LONG findKey(const std::string& folder, sim::Hive& hive, const std::string& path, sim::RegKey*& key) {
    key = hive.find(path);
    size_t line = hive.badLine();
    if (!line) return ERROR_SUCCESS;
    key = nullptr;
    auto loaded = hives().find(folder);
    if (loaded != hives().end() && loaded->second.hive.get() == &hive) {
        sayUnreadable(folder, line);
        loaded->second.hive.reset();
        ++hivesGeneration;
    }
    return ERROR_BADDB;
}

// The key's values read from its lines; 1009, said once, when one of them
// cannot be read.
LONG readValues(const std::string& folder, sim::Hive& hive, sim::RegKey& key) {
    size_t line = hive.readValues(key);
    if (!line) return ERROR_SUCCESS;
    static std::set<std::pair<std::string, size_t>> told;
    if (told.emplace(folder, line).second)
        sim::diagnose("%s, line %zu: not a value that can be read; every call on the values of "
                      "HKEY_LOCAL_MACHINE\\%s fails with 1009.",
                      hivePath(folder).c_str(), line, key.path.c_str());
    return ERROR_BADDB;
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
        if (end - start > kLongestKeyName) return ERROR_INVALID_PARAMETER;
        parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

std::string joined(const std::string& path, const std::vector<std::string>& parts) {
    std::string out = path;
    for (const std::string& part : parts) {
        if (!out.empty()) out += '\\';
        out += part;
    }
    return out;
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

// Moves the handle to the hive its computer has in this process now, if
// that is another one than it last used (read again, or dropped after a
// failed write).
LONG bind(SimKey& handle) {
    if (handle.view && (handle.generation == hivesGeneration || handle.folder.empty()))
        return handle.key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    if (handle.view) {
        auto loaded = hives().find(handle.folder);
        if (loaded != hives().end() && loaded->second.loaded && loaded->second.hive == handle.view) {
            handle.generation = hivesGeneration;
            return handle.key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
        }
    }
    handle.generation = hivesGeneration;
    handle.cursor = {};
    handle.key = nullptr;
    if (LONG code = currentHive(handle.folder, handle.view)) return code;
    if (LONG code = findKey(handle.folder, *handle.view, handle.path, handle.key)) return code;
    return handle.key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// A handle for the reads that follow an open: its key's values read, the
// call's fault checked without looking at the faults file again.
LONG resolveForReading(HKEY key, Call call, REGSAM needed, SimKey*& handle) {
    handle = handleOf(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (handle->faults) {
        if (LONG code = handle->faults->check(call)) return code;
    }
    if (!(handle->access & needed)) return ERROR_ACCESS_DENIED;
    if (LONG code = bind(*handle)) return code;
    return readValues(handle->folder, *handle->view, *handle->key);
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
    sim::RegKey* at = nullptr;
    if (LONG code = findKey(handle.folder, *hive, handle.path, at)) return code;
    if (!at) return ERROR_KEY_DELETED;
    bool changed = false;
    if (LONG code = change(*hive, *at, changed)) return code;
    if (changed) {
        sim::HiveImage image = sim::imageOf(*hive);
        if (LONG failed = sim::replaceFileAtomically(hivePath(handle.folder), image.fileParts(hive->fileFd()))) {
            hives().erase(handle.folder);  // the file still holds the old hive: so must every handle
            ++hivesGeneration;
            return failed;
        }
        // Nobody else writes while we hold the lock: what we hold is the new file.
        hives()[handle.folder].identity = sim::identityOf(hivePath(handle.folder));
    }
    if (handle.view != hive) handle.cursor = {};
    handle.view = hive;
    handle.key = at;
    handle.faults = sim::faultsOf(handle.folder);
    return ERROR_SUCCESS;
}

HKEY newHandle(SimKey&& key) {
    SimKey* handle = new SimKey(std::move(key));
    liveKeys().insert(handle);
    return reinterpret_cast<HKEY>(handle);
}

// A key on a real server, whose calls go to the remote network.
SimKey* remoteHandle(HKEY key) {
    SimKey* handle = isPredefined(key) ? nullptr : handleOf(key);
    return handle && handle->remote ? handle : nullptr;
}

LONG openRemoteKey(SimKey& parent, LPCSTR subKey, REGSAM access, bool create, PHKEY result, LPDWORD disposition) {
    std::vector<std::string> parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    sim::RemoteNetwork& network = *sim::remoteNetwork();
    sim::RemoteKey* opened = nullptr;
    LONG code = create ? network.createKey(*parent.remote, joined("", parts), access, opened, disposition)
                       : network.openKey(*parent.remote, joined("", parts), access, opened);
    if (code) return code;
    SimKey key;
    key.remote = opened;
    key.access = access;
    *result = newHandle(std::move(key));
    return ERROR_SUCCESS;
}

LONG enumRemoteValue(SimKey& handle, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD type,
                     LPBYTE data, LPDWORD dataSize) {
    if (!(handle.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (!valueName || !valueNameSize) return ERROR_INVALID_PARAMETER;
    if (data || dataSize) return ERROR_NOT_SUPPORTED;  // no caller reads a remote value's data
    std::string name;
    DWORD valueType = 0;
    if (LONG code = sim::remoteNetwork()->enumValue(*handle.remote, index, name, valueType)) return code;
    if (type) *type = valueType;
    if (name.size() + 1 > *valueNameSize) return ERROR_MORE_DATA;
    name.copy(valueName, name.size());
    valueName[name.size()] = '\0';
    *valueNameSize = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void releaseHandle(SimKey* handle) {
    liveKeys().erase(handle);
    if (lastFound == handle) lastFound = nullptr;
    delete handle;
}

std::string folderOf(HKEY key) {
    SimKey* handle = handleOf(key);
    return handle && !handle->folder.empty() ? handle->folder : sim::localComputerFolder(false);
}

}  // namespace

namespace sim {
size_t openKeyCount() { return liveKeys().size(); }
}  // namespace sim

// The key a parent handle stands for must still be there.
LONG openParent(SimKey& opened) {
    if (LONG code = currentHive(opened.folder, opened.view)) return code;
    if (opened.path.empty()) return ERROR_SUCCESS;
    sim::RegKey* parent = nullptr;
    if (LONG code = findKey(opened.folder, *opened.view, opened.path, parent)) return code;
    return parent ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (SimKey* parent = remoteHandle(key)) return openRemoteKey(*parent, subKey, access, false, result, nullptr);
    SimKey opened;
    if (LONG code = resolveParent(key, Call::RegOpenKeyExA, opened)) return code;
    std::vector<std::string> parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    if (LONG code = openParent(opened)) return code;
    opened.path = joined(opened.path, parts);
    if (LONG code = findKey(opened.folder, *opened.view, opened.path, opened.key)) return code;
    if (!opened.key) return ERROR_FILE_NOT_FOUND;
    opened.access = access;
    *result = newHandle(std::move(opened));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_BADKEY;
    *result = nullptr;
    if (SimKey* parent = remoteHandle(key)) return openRemoteKey(*parent, subKey, access, true, result, disposition);
    SimKey created;
    if (LONG code = resolveParent(key, Call::RegCreateKeyExA, created)) return code;
    std::vector<std::string> parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    if (LONG code = openParent(created)) return code;
    const std::string path = joined(created.path, parts);
    if (LONG code = findKey(created.folder, *created.view, path, created.key)) return code;
    bool exists = created.key != nullptr;
    if (!exists) {
        // A hive file could not carry these names, and Windows takes none.
        for (const std::string& part : parts)
            if (!sim::isStorableKeyName(part)) return ERROR_INVALID_PARAMETER;
        LONG code = changeHive(created, [&](sim::Hive& hive, sim::RegKey&, bool& changed) -> LONG {
            hive.create(path, changed);
            return ERROR_SUCCESS;
        });
        if (code) return code;
        created.key = created.view->find(path);
    }
    if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    created.path = path;
    created.access = access;
    *result = newHandle(std::move(created));
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (remoteHandle(key)) return ERROR_NOT_SUPPORTED;  // no caller reads a remote value
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
    if (SimKey* remote = remoteHandle(key)) {
        if (!(remote->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        if (!data && dataSize) return ERROR_INVALID_PARAMETER;
        return sim::remoteNetwork()->setValue(*remote->remote, valueName ? valueName : "", type, data, dataSize);
    }
    SimKey* handle = nullptr;
    if (LONG code = resolveForChange(key, Call::RegSetValueExA, handle)) return code;
    std::string_view name = valueName ? valueName : "";
    if (name.size() > kLongestValueName) return ERROR_INVALID_PARAMETER;
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    std::string_view bytes = data ? std::string_view(reinterpret_cast<const char*>(data), dataSize) : "";
    return changeHive(*handle, [&](sim::Hive& hive, sim::RegKey& at, bool& changed) -> LONG {
        if (LONG code = readValues(handle->folder, hive, at)) return code;
        changed = hive.setValue(at, name, type, bytes);
        return ERROR_SUCCESS;
    });
}

// The subkey, when missing, is created with the value in one change: one
// write of the hive where RegCreateKeyExA and RegSetValueExA make two.
LONG RegSetKeyValueA(HKEY key, LPCSTR subKey, LPCSTR valueName, DWORD type, const void* data, DWORD dataSize) {
    if (remoteHandle(key)) return ERROR_NOT_SUPPORTED;  // the store is local
    SimKey parent;
    if (LONG code = resolveParent(key, Call::RegSetKeyValueA, parent)) return code;
    if (key != HKEY_LOCAL_MACHINE && !(handleOf(key)->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::vector<std::string> parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    for (const std::string& part : parts)
        if (!sim::isStorableKeyName(part)) return ERROR_INVALID_PARAMETER;
    std::string_view name = valueName ? valueName : "";
    if (name.size() > kLongestValueName) return ERROR_INVALID_PARAMETER;
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    std::string_view bytes = data ? std::string_view(static_cast<const char*>(data), dataSize) : "";
    if (LONG code = openParent(parent)) return code;
    const std::string path = joined(parent.path, parts);
    return changeHive(parent, [&](sim::Hive& hive, sim::RegKey&, bool& changed) -> LONG {
        sim::RegKey* at = nullptr;
        if (LONG code = findKey(parent.folder, hive, path, at)) return code;
        if (!at) at = &hive.create(path, changed);
        if (LONG code = readValues(parent.folder, hive, *at)) return code;
        changed = hive.setValue(*at, name, type, bytes) || changed;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    if (SimKey* remote = remoteHandle(key)) {
        if (!(remote->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        return sim::remoteNetwork()->deleteValue(*remote->remote, valueName ? valueName : "");
    }
    SimKey* handle = nullptr;
    if (LONG code = resolveForChange(key, Call::RegDeleteValueA, handle)) return code;
    std::string_view name = valueName ? valueName : "";
    return changeHive(*handle, [&](sim::Hive& hive, sim::RegKey& at, bool& changed) -> LONG {
        if (LONG code = readValues(handle->folder, hive, at)) return code;
        if (!hive.deleteValue(at, name)) return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize) {
    if (SimKey* remote = remoteHandle(key))
        return enumRemoteValue(*remote, index, valueName, valueNameSize, type, data, dataSize);
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
    bool local = name.empty() || sim::sameName(name, sim::localComputerName());
    if (sim::RemoteNetwork* network = sim::remoteNetwork(); network && !local) {
        if (key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
        // As over the world: the registry is reached through this logon
        // session's connection to the server's ipc$.
        if (!sim::hasConnection(name, "ipc$")) return ERROR_ACCESS_DENIED;
        SimKey root;
        root.access = KEY_ALL_ACCESS;
        if (LONG code = network->connectRegistry(name, root.remote)) return code;
        *result = newHandle(std::move(root));
        return ERROR_SUCCESS;
    }
    std::string folder = name.empty() ? sim::localComputerFolder(false) : sim::findComputerFolder(name);
    if (LONG code = sim::faultFor(folder, Call::RegConnectRegistryA)) return code;
    if (key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    SimKey root;
    root.access = KEY_ALL_ACCESS;
    // The local computer is reached directly, whatever the letter case.
    if (local) {
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
    if (handle && handle->remote) {
        LONG code = sim::remoteNetwork()->closeKey(handle->remote);
        releaseHandle(handle);
        return code;
    }
    sim::ComputerFaults* faults = handle ? handle->faults : sim::faultsOf(sim::localComputerFolder(false));
    LONG fault = faults ? faults->check(Call::RegCloseKey) : 0;
    if (isPredefined(key)) return fault;  // Windows ignores closing a predefined key
    if (!handle) return fault ? fault : ERROR_INVALID_HANDLE;
    releaseHandle(handle);
    return fault;
}

// Every change is already on disk when its call returns.
LONG RegFlushKey(HKEY key) {
    if (remoteHandle(key)) return ERROR_SUCCESS;  // the server writes its registry out itself
    std::string folder = key == HKEY_LOCAL_MACHINE ? sim::localComputerFolder(false) : folderOf(key);
    if (key != HKEY_LOCAL_MACHINE && !handleOf(key)) return ERROR_INVALID_HANDLE;
    return sim::faultFor(folder, Call::RegFlushKey);
}
