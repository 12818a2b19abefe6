// Clear-text credentials and their end: wiped before their memory is given
// back, on every path.
#pragma once

#include <cstddef>

#include "platform/process.h"

// Clears clear-text credentials; the writes go through a volatile pointer so
// that the compiler cannot drop them as dead stores.
inline void wipeSecret(void* buffer, size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(buffer);
    for (size_t i = 0; i < size; ++i) bytes[i] = 0;
}

// Wipes a buffer when it goes out of scope, on every path. While one exists
// the process holds credentials in clear: it keeps them from others.
template <size_t Size>
struct SecretBuffer {
    char text[Size] = {};
    SecretBuffer() { KeepSecretsFromOthers(); }
    ~SecretBuffer() { wipeSecret(text, Size); }
};
