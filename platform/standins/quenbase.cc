// Our stand-in for Quenbase.dll, the maker's record store. It keeps each
// server's role record in the local registry where the credential lookup finds
// it (platform/record_location.h), REG_BINARY.
#include "platform/maker.h"
#include "platform/record_location.h"
#include "platform/standin_faults.h"

namespace {

// Without the product key name the store does not know where its records
// are: it fails rather than look in another place.
LONG recordKeyPath(LPCSTR server, LONG type, char (&path)[MAX_PATH]) {
    return roleRecordKeyPath(server, type, WithoutProductName::Fail, path);
}

LONG removeSlot(LPCSTR server, LONG type) {
    if (LONG code = StandInFault("deleteRecord")) return code;
    char path[MAX_PATH];
    if (LONG code = recordKeyPath(server, type, path)) return code;
    HKEY key = nullptr;
    if (LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key)) return code;
    LONG code = RegDeleteValueA(key, ROLE_RECORD_VALUE);
    RegCloseKey(key);
    return code;
}

LONG putSlot(LPCSTR server, LONG type, const void* record, DWORD size) {
    if (LONG code = StandInFault("writeRecord")) return code;
    char path[MAX_PATH];
    if (LONG code = recordKeyPath(server, type, path)) return code;
    // One call, so that a new record is one write of the store, not two.
    return RegSetKeyValueA(HKEY_LOCAL_MACHINE, path, ROLE_RECORD_VALUE, REG_BINARY, record, size);
}

}  // namespace

LONG QuenbaseOpen(LONG) {
    if (LONG code = StandInFault("loadStore")) return code;
    char root[MAX_PATH] = {};
    ZenthalServersRoot(root, sizeof root);
    HKEY key = nullptr;
    LONG code = RegCreateKeyExA(HKEY_LOCAL_MACHINE, root, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr);
    if (code == ERROR_SUCCESS) RegCloseKey(key);
    return code;
}

LONG QuenbaseCommit(LONG, LONG) {
    if (LONG code = StandInFault("commitStore")) return code;
    return RegFlushKey(HKEY_LOCAL_MACHINE);
}

// A null record with size 0 deletes; anything else writes.
LONG QuenbasePut(LPCSTR server, LONG type, const void* record, DWORD* size) {
    if (!server || !size) return ERROR_INVALID_PARAMETER;
    if (!record && *size == 0) return removeSlot(server, type);
    if (!record) return ERROR_INVALID_PARAMETER;
    return putSlot(server, type, record, *size);
}

LONG QuenbaseGet(LPCSTR server, LONG type, void* record, DWORD* size) {
    if (!server || !record || !size) return ERROR_INVALID_PARAMETER;
    if (LONG code = StandInFault("readRecord")) return code;
    char path[MAX_PATH];
    if (LONG code = recordKeyPath(server, type, path)) return code;
    HKEY key = nullptr;
    if (LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key)) return code;
    LONG code = RegQueryValueExA(key, ROLE_RECORD_VALUE, nullptr, nullptr, static_cast<LPBYTE>(record), size);
    RegCloseKey(key);
    return code;
}
