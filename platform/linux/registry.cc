// The registry calls: handles and the rules of their arguments, as Windows
// applies them before a key is touched. What a key holds is the host's
// (host.h), whichever computer and network it is on.
#include "platform/linux/registry.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/linux/machine/codepage.h"
#include "platform/linux/hosts/host.h"
#include "platform/linux/network.h"
#include "platform/linux/machine/trace.h"
#include "platform/win32.h"

namespace {

// The predefined keys are the handles from HKEY_CLASSES_ROOT to HKEY_DYN_DATA.
constexpr ULONG_PTR kFirstPredefined = 0x80000000u;
constexpr ULONG_PTR kLastPredefined = 0x80000006u;
constexpr size_t kLongestKeyName = 255;
constexpr size_t kLongestValueName = 16383;

struct Handle {
    sim::Host* host;
    std::unique_ptr<sim::HostKey> key;
    REGSAM access;
};

// Never destroyed: the leak report below reads it at exit.
std::unordered_set<Handle*>& liveHandles() {
    static auto* handles = new std::unordered_set<Handle*>;
    return *handles;
}

struct LeakReport {
    ~LeakReport() {
        if (!liveHandles().empty()) sim::trace("keys left open: %zu", liveHandles().size());
    }
} leakReport;

bool isPredefined(HKEY key) {
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
    return value >= kFirstPredefined && value <= kLastPredefined;
}

// The handle last found: a walk asks for the same one at every step.
Handle* lastFound = nullptr;

Handle* handleOf(HKEY key) {
    Handle* handle = reinterpret_cast<Handle*>(key);
    if (handle == lastFound && handle) return handle;
    if (!liveHandles().count(handle)) return nullptr;
    lastFound = handle;
    return handle;
}

HKEY newHandle(sim::Host& host, std::unique_ptr<sim::HostKey> key, REGSAM access) {
    Handle* handle = new Handle{&host, std::move(key), access};
    liveHandles().insert(handle);
    return reinterpret_cast<HKEY>(handle);
}

void releaseHandle(Handle* handle) {
    liveHandles().erase(handle);
    if (lastFound == handle) lastFound = nullptr;
    delete handle;
}

// A parent key: the local computer's HKEY_LOCAL_MACHINE, or an open handle.
struct Parent {
    sim::Host* host = nullptr;
    sim::HostKey* key = nullptr;
    REGSAM access = KEY_ALL_ACCESS;
};

LONG parentOf(HKEY key, Parent& parent) {
    if (key == HKEY_LOCAL_MACHINE) {
        parent.host = &sim::localHost();
        parent.key = parent.host->machineKey();
        return ERROR_SUCCESS;
    }
    Handle* handle = isPredefined(key) ? nullptr : handleOf(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    parent = {handle->host, handle->key.get(), handle->access};
    return ERROR_SUCCESS;
}

// Splits a subkey path at the backslashes that are characters of their own;
// 161 for a leading backslash, 87 for an over-long component, as Windows
// answers.
LONG splitSubKey(LPCSTR subKey, sim::KeyPath& parts) {
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

// A handle that may do what the call needs.
LONG handleFor(HKEY key, REGSAM needed, Handle*& handle) {
    handle = handleOf(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    return handle->access & needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// The name and data of a value to be written.
LONG valueArguments(LPCSTR valueName, const void* data, DWORD dataSize, std::string_view& name,
                    std::string_view& bytes) {
    name = valueName ? valueName : "";
    if (name.size() > kLongestValueName) return ERROR_INVALID_PARAMETER;
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    bytes = data ? std::string_view(static_cast<const char*>(data), dataSize) : "";
    return ERROR_SUCCESS;
}

LONG openOrCreate(HKEY key, LPCSTR subKey, REGSAM access, PHKEY result, LPDWORD disposition, bool create) {
    Parent parent;
    if (LONG code = parentOf(key, parent)) return code;
    sim::KeyPath parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    std::unique_ptr<sim::HostKey> opened;
    DWORD how = 0;
    LONG code = create ? parent.host->createKey(*parent.key, parts, access, opened, how)
                       : parent.host->openKey(*parent.key, parts, access, opened);
    if (code) return code;
    if (disposition) *disposition = how;
    *result = newHandle(*parent.host, std::move(opened), access);
    return ERROR_SUCCESS;
}

}  // namespace

namespace sim {
size_t openKeyCount() { return liveHandles().size(); }
}  // namespace sim

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    return openOrCreate(key, subKey, access, result, nullptr, false);
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_BADKEY;
    *result = nullptr;
    return openOrCreate(key, subKey, access, result, disposition, true);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    Handle* handle = nullptr;
    if (LONG code = handleFor(key, KEY_QUERY_VALUE, handle)) return code;
    if (data && !dataSize) return ERROR_INVALID_PARAMETER;
    sim::ValueView value;
    if (LONG code = handle->host->queryValue(*handle->key, valueName ? valueName : "", value)) {
        if (code == ERROR_FILE_NOT_FOUND && dataSize && !data) *dataSize = 0;
        return code;
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

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    Handle* handle = nullptr;
    if (LONG code = handleFor(key, KEY_SET_VALUE, handle)) return code;
    std::string_view name, bytes;
    if (LONG code = valueArguments(valueName, data, dataSize, name, bytes)) return code;
    return handle->host->setValue(*handle->key, name, type, bytes);
}

// The subkey, when missing, is created with the value in one change: one
// write where RegCreateKeyExA and RegSetValueExA make two.
LONG RegSetKeyValueA(HKEY key, LPCSTR subKey, LPCSTR valueName, DWORD type, const void* data, DWORD dataSize) {
    Parent parent;
    if (LONG code = parentOf(key, parent)) return code;
    if (!(parent.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    sim::KeyPath parts;
    if (LONG code = splitSubKey(subKey, parts)) return code;
    std::string_view name, bytes;
    if (LONG code = valueArguments(valueName, data, dataSize, name, bytes)) return code;
    return parent.host->setKeyValue(*parent.key, parts, name, type, bytes);
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    Handle* handle = nullptr;
    if (LONG code = handleFor(key, KEY_SET_VALUE, handle)) return code;
    return handle->host->deleteValue(*handle->key, valueName ? valueName : "");
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize) {
    Handle* handle = nullptr;
    if (LONG code = handleFor(key, KEY_QUERY_VALUE, handle)) return code;
    if (!valueName || !valueNameSize) return ERROR_INVALID_PARAMETER;
    sim::ValueView value;
    if (LONG code = handle->host->enumValue(*handle->key, index, data || dataSize, value)) return code;
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
    if (key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    sim::Host& host = sim::hostNamed(name);
    // Windows reaches another computer's registry over the logon session's
    // connection to its ipc$: no connection, no access.
    bool connected = sim::hasConnection(name, "ipc$");
    std::unique_ptr<sim::HostKey> root;
    if (LONG code = host.connectRegistry(name, connected, root)) return code;
    *result = newHandle(host, std::move(root), KEY_ALL_ACCESS);
    return ERROR_SUCCESS;
}

// The handle is released whatever the host answers: a caller could do
// nothing else with it.
LONG RegCloseKey(HKEY key) {
    Handle* handle = isPredefined(key) ? nullptr : handleOf(key);
    if (!handle) {
        LONG fault = sim::localHost().closeKey(nullptr);
        if (isPredefined(key)) return fault;  // Windows ignores closing a predefined key
        return fault ? fault : ERROR_INVALID_HANDLE;
    }
    LONG code = handle->host->closeKey(std::move(handle->key));
    releaseHandle(handle);
    return code;
}

LONG RegFlushKey(HKEY key) {
    Parent parent;
    if (LONG code = parentOf(key, parent)) return code;
    return parent.host->flushKey(*parent.key);
}
