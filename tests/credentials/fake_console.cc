#include "tests/credentials/fake_console.h"

#include "platform/console.h"

FakeConsole& fakeConsole() {
    static FakeConsole console;
    return console;
}

void ConsoleStartField(const char* promptText) { fakeConsole().fields.push_back(promptText); }

int ConsoleReadKey() {
    FakeConsole& console = fakeConsole();
    return console.nextKey < console.keys.size() ? console.keys[console.nextKey++] : -1;
}

int ConsoleWriteByte(int byte) {
    fakeConsole().echo += static_cast<char>(byte);
    return byte & 0xFF;
}

void ConsoleEndKeys() { ++fakeConsole().endCalls; }
