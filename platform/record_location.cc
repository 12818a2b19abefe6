#include "platform/record_location.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/maker.h"

int lookupProductKeyName(LONG recordType, char* nameBuffer) {
    unsigned char* productInfo = static_cast<unsigned char*>(std::calloc(1, PRODUCT_INFO_SIZE));
    if (!productInfo) return 0;
    int found = 0;
    if (MorvaneProductInfo(recordType, productInfo) & 0xFFFF) {
        // Not necessarily terminated within its 20 bytes.
        const char* name = reinterpret_cast<char*>(productInfo + PRODUCT_NAME_OFFSET);
        size_t length = strnlen(name, PRODUCT_NAME_SIZE);
        std::memcpy(nameBuffer, name, length);
        nameBuffer[length] = '\0';
        found = 1;
    }
    std::free(productInfo);
    return found;
}

LONG roleRecordKeyPath(LPCSTR server, LONG recordType, WithoutProductName rule, char (&path)[MAX_PATH]) {
    char root[MAX_PATH] = {};
    ZenthalServersRoot(root, sizeof root);
    if (root[0] == '\0') return ERROR_FILE_NOT_FOUND;
    char product[MAX_PATH] = {};
    if (!lookupProductKeyName(recordType, product)) {
        if (rule == WithoutProductName::Fail) return ERROR_BADKEY;
        std::strcpy(product, "Tallmere");
    }
    int length = std::snprintf(path, sizeof path, "%s\\%s\\%s", root, server, product);
    return length < 0 || length >= static_cast<int>(sizeof path) ? ERROR_FILENAME_EXCED_RANGE : ERROR_SUCCESS;
}
