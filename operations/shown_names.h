// Names as the operations hold and show them: copied into the name buffers
// the operations give the store, and shown on a terminal without what would
// drive it.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// A name that came from a registry, a store or a server, as standard output
// may show it: on a terminal the bytes that would reach it as control
// characters (C0, DEL, and C1 where the terminal has them) are shown as '?',
// as ls shows them, so that whoever may write a name cannot move the cursor
// or reprogram the administrator's terminal; a pipe or a file gets the
// bytes as they are, for the scripts that read them.
struct ShownName {
    char text[MAX_PATH];
};
ShownName shown(const char* name);
void makeShowable(char* bytes, size_t length);

// Copies a name into a zero-filled MAX_PATH-byte buffer.
void copyName(char (&buffer)[MAX_PATH], const char* name);
