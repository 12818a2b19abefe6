// The Windows console behind the credential prompt: keys from "CONIN$" with
// every input mode off for the length of one read, echo to "CONOUT$".
#include <windows.h>

#include "platform/console.h"
#include "platform/extended_keys.h"

namespace {

HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;
bool inputOpened = false;
bool outputOpened = false;
int pendingCode = -1;  // the second value of an extended key

HANDLE consoleInput() {
    if (!inputOpened) {
        input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        inputOpened = true;
    }
    return input;
}

int modifiersOf(DWORD state) {
    int modifiers = 0;
    if (state & SHIFT_PRESSED) modifiers |= kShiftHeld;
    if (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) modifiers |= kCtrlHeld;
    if (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) modifiers |= kAltHeld;
    return modifiers;
}

// The value of one key-down event, or -2 for a key that yields nothing
// (Shift, Ctrl or Alt alone).
int valueOf(const KEY_EVENT_RECORD& key) {
    unsigned char character = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (character) return character;
    // Windows gives Esc the character 27; Wine's console, reading a terminal,
    // gives VK_ESCAPE without one.
    if (key.wVirtualKeyCode == VK_ESCAPE) return 27;
    int lead = 0, code = 0;
    if (!extendedKeyValues(key.wVirtualScanCode, (key.dwControlKeyState & ENHANCED_KEY) != 0,
                           modifiersOf(key.dwControlKeyState), lead, code))
        return -2;
    pendingCode = code;
    return lead;
}

}  // namespace

int ConsoleReadKey() {
    if (pendingCode >= 0) {
        int code = pendingCode;
        pendingCode = -1;
        return code;
    }
    HANDLE console = consoleInput();
    DWORD savedMode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &savedMode)) return -1;
    SetConsoleMode(console, 0);  // no line input, no echo, Ctrl+C as a key
    int value = -1;
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputA(console, &record, 1, &count) || count != 1) break;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        value = valueOf(record.Event.KeyEvent);
        if (value != -2) break;
    }
    SetConsoleMode(console, savedMode);
    return value;
}

int ConsoleWriteByte(int byte) {
    if (!outputOpened) {
        output = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
        outputOpened = true;
    }
    char out = static_cast<char>(byte);
    DWORD written = 0;
    if (output == INVALID_HANDLE_VALUE || !WriteConsoleA(output, &out, 1, &written, nullptr) || written != 1)
        return -1;
    return byte & 0xFF;
}

// The mode was already given back after each read.
void ConsoleEndKeys() { pendingCode = -1; }

void ConsoleStartField(const char*) {}

// The C runtime hands a console program its arguments in the ANSI code page.
char** OpenConsole(int, char** argv) { return argv; }

bool ConsoleShowsAsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }
