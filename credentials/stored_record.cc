#include "credentials/stored_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/maker.h"

int lookupProductKeyName(LONG recordType, char* nameBuffer) {
    unsigned char* productInfo = static_cast<unsigned char*>(std::calloc(1, PRODUCT_INFO_SIZE));
    if (!productInfo) return 0;
    int found = 0;
    if (MorvaneProductInfo(recordType, productInfo) & 0xFFFF) {
        const char* name = reinterpret_cast<char*>(productInfo + PRODUCT_NAME_OFFSET);
        size_t length = strnlen(name, PRODUCT_NAME_SIZE);
        std::memcpy(nameBuffer, name, length);
        nameBuffer[length] = '\0';
        found = 1;
    }
    std::free(productInfo);
    return found;
}

LONG StoredRecordLookup(LPCSTR serverName, LONG recordType, void* recordBuffer, DWORD* size) {
    char root[MAX_PATH] = {};
    ZenthalServersRoot(root, sizeof root);
    if (root[0] == '\0') return ERROR_FILE_NOT_FOUND;  // no root: no record can be stored

    char productName[MAX_PATH] = {};
    if (!lookupProductKeyName(recordType, productName)) std::strcpy(productName, "Tallmere");
    char keyPath[MAX_PATH] = {};
    int length = std::snprintf(keyPath, sizeof keyPath, "%s\\%s\\%s", root, serverName, productName);
    if (length < 0 || length >= static_cast<int>(sizeof keyPath)) return ERROR_FILENAME_EXCED_RANGE;

    HKEY key = nullptr;
    if (LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key)) return code;
    char valueName[MAX_PATH] = {};
    std::snprintf(valueName, sizeof valueName, "%s_%d", "Slot", 1);
    DWORD reported = *size;
    LONG code = RegQueryValueExA(key, valueName, nullptr, nullptr, static_cast<LPBYTE>(recordBuffer), &reported);
    *size = reported;
    RegCloseKey(key);
    return code;
}
