#include "credentials/stored_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/maker.h"

namespace {
constexpr size_t kProductInfoSize = 28;
constexpr size_t kProductNameOffset = 4;
constexpr size_t kProductNameSize = 20;
}  // namespace

int lookupProductKeyName(LONG recordType, char* nameBuffer) {
    unsigned char* productInfo = static_cast<unsigned char*>(std::calloc(1, kProductInfoSize));
    if (!productInfo) return 0;
    int found = 0;
    if (MorvaneProductInfo(recordType, productInfo) & 0xFFFF) {
        // The library's name need not be terminated within its 20 bytes.
        size_t length = strnlen(reinterpret_cast<char*>(productInfo + kProductNameOffset), kProductNameSize);
        std::memcpy(nameBuffer, productInfo + kProductNameOffset, length);
        nameBuffer[length] = '\0';
        found = 1;
    }
    std::free(productInfo);
    return found;
}

LONG StoredRecordLookup(LPCSTR serverName, LONG recordType, void* recordBuffer, DWORD* size) {
    char root[260] = {};
    ZenthalServersRoot(root, sizeof root);
    if (root[0] == '\0') return ERROR_FILE_NOT_FOUND;  // no root: no record can be stored

    char productName[260] = {};
    if (!lookupProductKeyName(recordType, productName)) std::strcpy(productName, "Tallmere");
    char keyPath[260] = {};
    int length = std::snprintf(keyPath, sizeof keyPath, "%s\\%s\\%s", root, serverName, productName);
    if (length < 0 || length >= static_cast<int>(sizeof keyPath)) return ERROR_FILENAME_EXCED_RANGE;

    HKEY key = nullptr;
    if (LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key)) return code;
    char valueName[260] = {};
    std::snprintf(valueName, sizeof valueName, "%s_%d", "Slot", 1);
    DWORD reported = *size;
    LONG code = RegQueryValueExA(key, valueName, nullptr, nullptr, static_cast<LPBYTE>(recordBuffer), &reported);
    *size = reported;
    RegCloseKey(key);
    return code;
}
