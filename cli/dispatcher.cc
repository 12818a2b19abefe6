#include "cli/dispatcher.h"

#include <cstdio>
#include <cstring>

#include "operations/operations.h"
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

char commandWord[4];
char firstName[kMaxNameLength + 1];
char secondName[kMaxNameLength + 1];

bool same(const char* left, const char* right) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(left), reinterpret_cast<const unsigned char*>(right)) == 0;
}

void printLoadFailure(LONG code) {
    char localName[260] = {};
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

const Command* findCommand(int names) {
    for (const Command& command : kCommands)
        if (command.names == names && same(command.word, commandWord)) return &command;
    return nullptr;
}

}  // namespace

void printUsage() {
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
    if (LONG code = loadStore(0)) {
        printLoadFailure(code);
        return code;
    }
    // A word of four or more characters matches no command.
    _mbslwr(reinterpret_cast<unsigned char*>(argv[1]));
    commandWord[0] = '\0';
    if (std::strlen(argv[1]) < sizeof commandWord) std::strcpy(commandWord, argv[1]);

    const Command* command = nullptr;
    if (argc == 3) {
        if (!takeName(argv[2], firstName)) return ERROR_INVALID_NAME;
        command = findCommand(1);
    } else if (argc == 4) {
        if (!takeName(argv[2], firstName) || !takeName(argv[3], secondName)) return ERROR_INVALID_NAME;
        command = findCommand(2);
    }
    if (!command) {
        printUsage();
        return ERROR_INVALID_PARAMETER;
    }

    int result;
    if (command->names == 1) {
        std::printf(command->progress, firstName);
        result = command->runOne(firstName);
    } else {
        if (same(firstName, secondName)) {
            std::printf(command->refusal, secondName, firstName);
            return ERROR_INVALID_PARAMETER;
        }
        std::printf(command->progress, secondName, firstName);
        result = command->runTwo(firstName, secondName);
    }
    if (result == 0) std::printf("Transaction OK!\n");
    return result;
}
