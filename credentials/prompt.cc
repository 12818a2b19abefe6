#include "credentials/prompt.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/win32.h"

namespace {

constexpr int kEnter = 13;
constexpr int kTab = 9;
constexpr int kEscape = 27;
constexpr int kBackspace = 8;
constexpr int kNoConsole = -1;

// Shows a field's prompt and reads the field into buffer. False when Esc
// ended it; a console that cannot be read ends it the same way, since no
// Enter could ever come.
bool readField(const char* serverName, const char* label, char* buffer, bool masked) {
    std::printf("%s : %s = ", serverName, label);
    std::fflush(stdout);
    char promptText[MAX_PATH + 32];
    std::snprintf(promptText, sizeof promptText, "%s : %s = ", serverName, label);
    ConsoleStartField(promptText);
    int count = 0;
    for (;;) {
        int key = ConsoleReadKey();
        if (key == kEscape || key == kNoConsole) return false;
        if (key == kEnter || key == kTab) break;
        if (key == kBackspace) {
            if (count > 0) {
                --count;
                ConsoleWriteByte(kBackspace);
                ConsoleWriteByte(' ');
                ConsoleWriteByte(kBackspace);
            }
            continue;
        }
        if (count >= kMaxTypedLength) continue;
        buffer[count++] = static_cast<char>(key & 0xFF);
        ConsoleWriteByte(masked ? '*' : key & 0xFF);
    }
    buffer[count] = '\0';
    ConsoleWriteByte('\n');
    return true;
}

// Gives the console its mode back however the prompt ends.
struct KeysInUse {
    ~KeysInUse() { ConsoleEndKeys(); }
};

}  // namespace

int CredentialPrompt(char* userNameBuffer, char* passwordBuffer, const char* serverName) {
    KeysInUse keysInUse;
    std::printf(" Press <Esc> to quit");
    std::printf(" \n");
    if (!readField(serverName, "Username", userNameBuffer, false)) return PROMPT_ESCAPED;
    if (!readField(serverName, "Password", passwordBuffer, true)) return PROMPT_ESCAPED;
    return 0;
}
