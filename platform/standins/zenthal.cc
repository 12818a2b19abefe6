// Our stand-in for Zenthal.dll, the maker's tools library: the registry roots
// of the product.
#include <cstring>

#include "platform/maker.h"

static LONG copyRoot(const char* root, LPSTR buffer, DWORD size) {
    size_t length = std::strlen(root);
    if (!buffer || size <= length) return 0;
    std::memcpy(buffer, root, length + 1);
    return static_cast<LONG>(length);
}

LONG ZenthalListRoot(LPSTR buffer, DWORD size) { return copyRoot("SOFTWARE\\Tallmere\\Vesklane", buffer, size); }

LONG ZenthalServersRoot(LPSTR buffer, DWORD size) { return copyRoot("SOFTWARE\\Tallmere\\Servers", buffer, size); }
