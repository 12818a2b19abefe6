#include "credentials/stored_record.h"

#include "platform/record_location.h"

LONG StoredRecordLookup(LPCSTR serverName, LONG recordType, void* recordBuffer, DWORD* size) {
    char keyPath[MAX_PATH] = {};
    if (LONG code = roleRecordKeyPath(serverName, recordType, WithoutProductName::Tallmere, keyPath)) return code;
    HKEY key = nullptr;
    if (LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key)) return code;
    DWORD reported = *size;
    LONG code = RegQueryValueExA(key, ROLE_RECORD_VALUE, nullptr, nullptr, static_cast<LPBYTE>(recordBuffer), &reported);
    *size = reported;
    RegCloseKey(key);
    return code;
}
