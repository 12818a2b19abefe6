// The registry calls over the world's hive files. A change is made under the
// computer's lock on a freshly read hive and written back atomically; reads use
// the parsed hive for as long as its file is unchanged, so that walking a key of
// many values reads the file once.
#include "platform/simulated/registry.h"

#include <cstring>
#include <map>
#include <memory>
#include <set>
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

struct SimKey {
    std::string folder;              // empty: the local computer has no folder yet
    std::vector<std::string> path;   // below HKEY_LOCAL_MACHINE
    REGSAM access = 0;
};

struct CachedHive {
    sim::FileIdentity identity;
    bool loaded = false;
    bool corrupt = false;
    std::unique_ptr<sim::RegKey> root;
};

// Never destroyed: the leak report below reads it at exit.
std::set<SimKey*>& liveKeys() {
    static auto* keys = new std::set<SimKey*>;
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

// Resolves a handle to the computer folder and key path it stands for.
LONG resolve(HKEY key, SimKey& out) {
    if (key == HKEY_LOCAL_MACHINE) {
        out.folder = sim::localComputerFolder(false);
        out.path.clear();
        out.access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    if (isPredefined(key)) return ERROR_INVALID_HANDLE;
    SimKey* simKey = reinterpret_cast<SimKey*>(key);
    if (!liveKeys().count(simKey)) return ERROR_INVALID_HANDLE;
    out = *simKey;
    // A key of the local computer opened before its folder existed.
    if (out.folder.empty()) out.folder = sim::localComputerFolder(false);
    return ERROR_SUCCESS;
}

std::string hivePath(const std::string& folder) { return folder + "/hklm.reg"; }

std::map<std::string, CachedHive>& hives() {
    static std::map<std::string, CachedHive> cache;
    return cache;
}

// The hive as its file holds it now; 1009 when the file cannot be parsed.
LONG currentHive(const std::string& folder, sim::RegKey*& root) {
    static sim::RegKey emptyRoot;
    if (folder.empty()) {
        emptyRoot = sim::RegKey();
        root = &emptyRoot;
        return ERROR_SUCCESS;
    }
    CachedHive& hive = hives()[folder];
    sim::FileIdentity identity = sim::identityOf(hivePath(folder));
    if (!hive.loaded || !(identity == hive.identity)) {
        hive.root = std::make_unique<sim::RegKey>();
        hive.corrupt = false;
        std::string text;
        if (identity.exists) {
            hive.corrupt = !sim::readWholeFile(hivePath(folder), text) || !sim::parseHive(text, *hive.root);
        }
        hive.identity = identity;
        hive.loaded = true;
    }
    if (hive.corrupt) return ERROR_BADDB;
    root = hive.root.get();
    return ERROR_SUCCESS;
}

sim::RegKey* walk(sim::RegKey* root, const std::vector<std::string>& path) {
    sim::RegKey* key = root;
    for (const std::string& part : path) {
        if (!key) break;
        key = key->findSubkey(part);
    }
    return key;
}

LONG findKey(const SimKey& handle, sim::RegKey*& key) {
    sim::RegKey* root = nullptr;
    if (LONG code = currentHive(handle.folder, root)) return code;
    key = walk(root, handle.path);
    return key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Splits a subkey path; 161 for a leading backslash, 87 for an over-long
// component, as Windows answers.
LONG splitSubKey(LPCSTR subKey, std::vector<std::string>& parts) {
    if (!subKey || !*subKey) return ERROR_SUCCESS;
    if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
    std::string text(subKey);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos) end = text.size();
        if (end == start) return ERROR_BAD_PATHNAME;
        if (end - start > 255) return ERROR_INVALID_PARAMETER;
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// Applies `change` to the current hive under the computer's lock and writes the
// hive back when `change` reports that it changed something.
template <class Change>
LONG changeHive(SimKey& handle, Change change) {
    if (handle.folder.empty()) handle.folder = sim::localComputerFolder(true);
    if (handle.folder.empty()) return ERROR_CANTWRITE;
    sim::FolderLock lock(handle.folder);
    if (!lock.held()) return ERROR_CANTWRITE;
    sim::RegKey* root = nullptr;
    if (LONG code = currentHive(handle.folder, root)) return code;
    bool changed = false;
    LONG code = change(*root, changed);
    if (code != ERROR_SUCCESS || !changed) return code;
    if (!sim::replaceFileAtomically(hivePath(handle.folder), sim::serializeHive(*root))) {
        hives().erase(handle.folder);  // the file still holds the old hive
        return ERROR_CANTWRITE;
    }
    // Nobody else writes while we hold the lock: what we hold is the new file.
    hives()[handle.folder].identity = sim::identityOf(hivePath(handle.folder));
    return ERROR_SUCCESS;
}

HKEY newHandle(const std::string& folder, std::vector<std::string> path, REGSAM access) {
    SimKey* key = new SimKey{folder, std::move(path), access};
    liveKeys().insert(key);
    return reinterpret_cast<HKEY>(key);
}

std::string folderOf(HKEY key) {
    SimKey handle;
    return resolve(key, handle) == ERROR_SUCCESS ? handle.folder : sim::localComputerFolder(false);
}

}  // namespace

namespace sim {
size_t openKeyCount() { return liveKeys().size(); }
}  // namespace sim

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    SimKey handle;
    if (LONG code = resolve(key, handle)) return code;
    if (LONG code = sim::faultFor(handle.folder, "RegOpenKeyExA")) return code;
    std::vector<std::string> parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    sim::RegKey* base = nullptr;
    if (LONG code = findKey(handle, base)) return code;
    if (!walk(base, parts)) return ERROR_FILE_NOT_FOUND;
    handle.path.insert(handle.path.end(), parts.begin(), parts.end());
    *result = newHandle(handle.folder, handle.path, access);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_BADKEY;
    *result = nullptr;
    SimKey handle;
    if (LONG code = resolve(key, handle)) return code;
    if (LONG code = sim::faultFor(handle.folder, "RegCreateKeyExA")) return code;
    std::vector<std::string> parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    sim::RegKey* base = nullptr;
    if (LONG code = findKey(handle, base)) return code;
    bool exists = walk(base, parts) != nullptr;
    if (!exists) {
        LONG code = changeHive(handle, [&](sim::RegKey& root, bool& changed) {
            sim::RegKey* at = walk(&root, handle.path);
            if (!at) return ERROR_KEY_DELETED;
            for (const std::string& part : parts) at = &at->subkey(part, changed);
            return ERROR_SUCCESS;
        });
        if (code) return code;
    }
    if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    handle.path.insert(handle.path.end(), parts.begin(), parts.end());
    *result = newHandle(handle.folder, handle.path, access);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    SimKey handle;
    if (LONG code = resolve(key, handle)) return code;
    if (LONG code = sim::faultFor(handle.folder, "RegQueryValueExA")) return code;
    if (!(handle.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (data && !dataSize) return ERROR_INVALID_PARAMETER;
    sim::RegKey* found = nullptr;
    if (LONG code = findKey(handle, found)) return code;
    long index = found->findValue(valueName ? valueName : "");
    if (index < 0) {
        if (dataSize && !data) *dataSize = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    const sim::RegValue& value = found->values[static_cast<size_t>(index)];
    if (type) *type = value.type;
    DWORD needed = static_cast<DWORD>(value.data.size());
    if (!dataSize) return ERROR_SUCCESS;
    if (data && *dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    if (data) std::memcpy(data, value.data.data(), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    SimKey handle;
    if (LONG code = resolve(key, handle)) return code;
    if (LONG code = sim::faultFor(handle.folder, "RegSetValueExA")) return code;
    if (!(handle.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::string name = valueName ? valueName : "";
    if (name.size() > 16383) return ERROR_INVALID_PARAMETER;
    std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), dataSize) : std::string();
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    return changeHive(handle, [&](sim::RegKey& root, bool& changed) {
        sim::RegKey* at = walk(&root, handle.path);
        if (!at) return ERROR_KEY_DELETED;
        long index = at->findValue(name);
        if (index >= 0) {
            // An existing value keeps its spelling and its place.
            sim::RegValue& value = at->values[static_cast<size_t>(index)];
            changed = value.type != type || value.data != bytes;
            value.type = type;
            value.data = bytes;
        } else {
            at->values.push_back(sim::RegValue{name, type, bytes});
            changed = true;
        }
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    SimKey handle;
    if (LONG code = resolve(key, handle)) return code;
    if (LONG code = sim::faultFor(handle.folder, "RegDeleteValueA")) return code;
    if (!(handle.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::string name = valueName ? valueName : "";
    return changeHive(handle, [&](sim::RegKey& root, bool& changed) {
        sim::RegKey* at = walk(&root, handle.path);
        if (!at) return ERROR_KEY_DELETED;
        long index = at->findValue(name);
        if (index < 0) return ERROR_FILE_NOT_FOUND;
        at->values.erase(at->values.begin() + index);
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize) {
    SimKey handle;
    if (LONG code = resolve(key, handle)) return code;
    if (LONG code = sim::faultFor(handle.folder, "RegEnumValueA")) return code;
    if (!(handle.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (!valueName || !valueNameSize) return ERROR_INVALID_PARAMETER;
    sim::RegKey* found = nullptr;
    if (LONG code = findKey(handle, found)) return code;
    if (index >= found->values.size()) return ERROR_NO_MORE_ITEMS;
    const sim::RegValue& value = found->values[index];
    DWORD neededData = static_cast<DWORD>(value.data.size());
    if (type) *type = value.type;
    // As on Windows: a name that does not fit leaves the name buffer and its
    // size as they were.
    if (value.name.size() + 1 > *valueNameSize) {
        if (dataSize) *dataSize = neededData;
        return ERROR_MORE_DATA;
    }
    if (data && dataSize && *dataSize < neededData) {
        *dataSize = neededData;
        return ERROR_MORE_DATA;
    }
    std::memcpy(valueName, value.name.c_str(), value.name.size() + 1);
    *valueNameSize = static_cast<DWORD>(value.name.size());
    if (data && dataSize) std::memcpy(data, value.data.data(), neededData);
    if (dataSize) *dataSize = neededData;
    return ERROR_SUCCESS;
}

LONG RegConnectRegistryA(LPCSTR machineName, HKEY key, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string name = machineName ? machineName : "";
    if (name.compare(0, 2, "\\\\") == 0) name.erase(0, 2);
    std::string folder = name.empty() ? sim::localComputerFolder(false) : sim::findComputerFolder(name);
    if (LONG code = sim::faultFor(folder, "RegConnectRegistryA")) return code;
    if (key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    // The local computer is reached directly, whatever the letter case.
    if (name.empty() || sim::sameName(name, sim::localComputerName())) {
        *result = newHandle(sim::localComputerFolder(false), {}, KEY_ALL_ACCESS);
        return ERROR_SUCCESS;
    }
    if (folder.empty() || sim::isOffline(folder)) return ERROR_BAD_NETPATH;
    // Windows reaches a remote registry over the server's ipc$ share, which
    // needs an authenticated connection of this logon session.
    if (!sim::hasConnection(name, "ipc$")) return ERROR_ACCESS_DENIED;
    *result = newHandle(folder, {}, KEY_ALL_ACCESS);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (LONG code = sim::faultFor(folderOf(key), "RegCloseKey")) return code;
    if (isPredefined(key)) return ERROR_SUCCESS;  // Windows ignores closing a predefined key
    SimKey* simKey = reinterpret_cast<SimKey*>(key);
    if (!liveKeys().erase(simKey)) return ERROR_INVALID_HANDLE;
    delete simKey;
    return ERROR_SUCCESS;
}

// Every change is already on disk when its call returns.
LONG RegFlushKey(HKEY key) {
    SimKey handle;
    if (LONG code = resolve(key, handle)) return code;
    return sim::faultFor(handle.folder, "RegFlushKey");
}
