#include "operations/report_error.h"

#include <cstdio>

#include "platform/win32.h"

void reportError(const char* contextText, long code) {
    char* text = nullptr;
    // Without FORMAT_MESSAGE_IGNORE_INSERTS a text with inserts (%1) would be
    // expanded from arguments that we do not pass.
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(code), LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::printf("ERROR! %s%s.\n", text ? text : "", contextText);
    if (text) LocalFree(text);
}
