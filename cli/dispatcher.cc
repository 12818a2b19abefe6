#include "cli/dispatcher.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "operations/operations.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "store/record_store.h"

namespace {

constexpr size_t kMaxNameLength = 255;

struct Command {
    const char* word;
    int names;
    const char* progress;  // its arguments: the names, last one first
    const char* refusal;   // two-name commands: the line for equal names
    int (*runOne)(const char* server);
    int (*runTwo)(const char* primary, const char* distributed);
};

int forceRemovePair(const char*, const char* distributed) { return forceRemove(distributed); }

// Looked up in this order; the first row whose word and number of names fit.
// The blank before the full stop of the rd and frd lines is kept on purpose:
// administrators' scripts match these lines byte for byte.
const Command kCommands[] = {
    {"mp", 1, "Making %s a primary.\n", nullptr, makePrimary, nullptr},
    {"cc", 1, "Changing credentials for %s.\n", nullptr, changeCredentials, nullptr},
    {"rp", 1, "Removing %s primary.\n", nullptr, removePrimary, nullptr},
    {"frd", 1, "Force the Removing of %s .\n", nullptr, forceRemove, nullptr},
    {"ld", 1, "List all distributed servers for %s.\n", nullptr, listDistributed, nullptr},
    {"lp", 1, "List the primary of %s.\n", nullptr, listPrimary, nullptr},
    {"md", 2, "Assigning %s to %s.\n", "You can not assign %s to %s.\n", nullptr, assignDistributed},
    {"rd", 2, "Removing %s from %s .\n", "You can not remove %s from %s.\n", nullptr, removeDistributed},
    {"frd", 2, "Force the Removing of %s from %s .\n", "You can not remove %s from %s.\n", nullptr, forceRemovePair},
};

// The command line as the dispatcher normalised it.
struct CommandLine {
    char word[4] = {};
    char firstName[kMaxNameLength + 1] = {};
    char secondName[kMaxNameLength + 1] = {};
};

bool same(const char* left, const char* right) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(left), reinterpret_cast<const unsigned char*>(right)) == 0;
}

// The blank before the full stop is kept as administrators' scripts know it.
void printLoadFailure(LONG code) {
    char localName[MAX_PATH] = {};
    DWORD size = sizeof localName;
    GetComputerNameA(localName, &size);
    std::printf("Could not load Quenbase.dll: the registry of %s cannot be read (error %ld) .\n", localName,
                static_cast<long>(code));
}

// Upper-cases the argument in place and copies it into a name buffer. False,
// after saying so, when it does not fit.
bool takeName(char* argument, char (&name)[kMaxNameLength + 1]) {
    size_t length = std::strlen(argument);
    if (length > kMaxNameLength) {
        std::printf("A server name can hold at most %lu characters; the name given has %lu.\n",
                    static_cast<unsigned long>(kMaxNameLength), static_cast<unsigned long>(length));
        return false;
    }
    _mbsupr(reinterpret_cast<unsigned char*>(argument));
    std::memcpy(name, argument, length + 1);
    return true;
}

// Windows takes no control character in a computer name, and one written to
// a terminal or a file could do harm there: refused before anything is
// touched. True, after saying why, when argument is refused.
bool refuseControlCharacters(const char* argument) {
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(argument); *at; ++at) {
        if (*at >= 0x20 && *at != 0x7F) continue;
        std::fprintf(stderr, "VeskCfg: a server name cannot hold control characters; this one holds byte 0x%02X.\n",
                     *at);
        return true;
    }
    return false;
}

// The command line as the next run waiting for this console sees it.
std::string commandLineOf(int argc, char** argv) {
    std::string line = "VeskCfg";
    for (int i = 1; i < argc && line.size() < 300; ++i) line.append(" ").append(argv[i]);
    return line;
}

const Command* findCommand(const char* word, int names) {
    for (const Command& command : kCommands)
        if (command.names == names && same(command.word, word)) return &command;
    return nullptr;
}

// Fills line from the arguments; the command the line asks for, or null when
// it fits none. False, after saying why, when a name is refused.
bool parse(int argc, char** argv, CommandLine& line, const Command*& command) {
    command = nullptr;
    // A word of four or more characters matches no command.
    _mbslwr(reinterpret_cast<unsigned char*>(argv[1]));
    if (std::strlen(argv[1]) < sizeof line.word) std::strcpy(line.word, argv[1]);
    if (argc == 3) {
        if (!takeName(argv[2], line.firstName)) return false;
        command = findCommand(line.word, 1);
    } else if (argc == 4) {
        if (!takeName(argv[2], line.firstName) || !takeName(argv[3], line.secondName)) return false;
        command = findCommand(line.word, 2);
    }
    return true;
}

int run(const Command& command, const CommandLine& line) {
    if (command.names == 1) {
        std::printf(command.progress, line.firstName);
        return command.runOne(line.firstName);
    }
    std::printf(command.progress, line.secondName, line.firstName);
    return command.runTwo(line.firstName, line.secondName);
}

}  // namespace

void printUsage() {
    // "Sintax" is kept as administrators' scripts know it.
    static const char* const kUsage[] = {
        " Vesklane Configuration Version 0.1.\n",
        " Sintax:\n",
        " VeskCfg [?][command PrimaryServer [DistributedServer]]\n",
        " where: command can be:\n",
        "      mp  - to make a primary server.\n",
        "      md  - to assign a distributed server to a primary server.\n",
        "      rp  - to remove primary server.\n",
        "      rd  - to remove distributed server from primary server.\n",
        "      frd - to force remove distributed server from primary server.\n",
        "      ld  - to list all distributed servers of a primary server.\n",
        "      lp  - to list the primary server of a distributed server.\n",
        "      cc  - to change credentials for a server.\n",
        " Ex:\n",
        " VeskCfg rd primserver distrserver.\n",
        "     will remove \"distrserver\" from \"primserver\".\n",
    };
    for (const char* line : kUsage) std::fputs(line, stdout);
}

int CommandDispatcher(int argc, char** argv) {
    // The help form: any character followed by "?", such as "/?" or "-?".
    if (argc == 1 || (argc == 2 && argv[1][0] != '\0' && argv[1][1] == '?')) {
        printUsage();
        return 0;
    }
    for (int name = 2; name < argc && argc <= 4; ++name)
        if (refuseControlCharacters(argv[name])) return ERROR_INVALID_NAME;
    HoldThisConsole(commandLineOf(argc, argv).c_str());
    if (LONG code = loadStore(0)) {
        printLoadFailure(code);
        return code;
    }
    CommandLine line;
    const Command* command = nullptr;
    if (!parse(argc, argv, line, command)) return ERROR_INVALID_NAME;
    if (!command) {
        printUsage();
        return ERROR_INVALID_PARAMETER;
    }
    if (command->names == 2 && same(line.firstName, line.secondName)) {
        std::printf(command->refusal, line.secondName, line.firstName);
        return ERROR_INVALID_PARAMETER;
    }
    int result = run(*command, line);
    if (result == 0) std::printf("Transaction OK!\n");
    return result;
}
