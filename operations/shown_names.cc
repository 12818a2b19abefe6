#include "operations/shown_names.h"

#include <cstring>

#include "platform/console.h"
#include "platform/process.h"

void makeShowable(char* bytes, size_t length) {
    if (!StandardOutputIsTerminal()) return;
    for (size_t at = 0; at < length; ++at)
        if (ConsoleShowsAsControl(static_cast<unsigned char>(bytes[at]))) bytes[at] = '?';
}

ShownName shown(const char* name) {
    ShownName out = {};
    std::strncpy(out.text, name, sizeof out.text - 1);
    makeShowable(out.text, std::strlen(out.text));
    return out;
}

void copyName(char (&buffer)[MAX_PATH], const char* name) {
    std::memset(buffer, 0, sizeof buffer);
    std::strncpy(buffer, name, sizeof buffer - 1);
}
