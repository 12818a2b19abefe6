// vesknet's edges on Linux: the locale's character set (the console's own
// conversion), the world and console a run is about, Graphviz started with
// posix_spawn.
#include "tools/vesknet/edges.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/console/charset.h"
#include "platform/linux/machine/codepage.h"
#include "platform/linux/machine/world.h"

namespace vesknet {

const HelpTexts kHelp = {
    "vesknet: make, inspect, check and draw a simulated network for VeskCfg",
    "",
    "(exit 0 consistent, 1 not, 2 the world cannot be read)",
    "On a real network (VESKCFG_NETWORK=smb), how many primaries are read at once (16)",
    "On a real network, how many seconds a primary is given to be read before it is a finding (120)",
};

std::string forTerminal(const std::string& line) { return sim::ansiToLocale(line); }

// In the C locale on a terminal only (a pipe gets the bytes as they are, for
// the scripts that read them), in another wherever it goes.
bool showsAsControl(unsigned char byte) {
    return sim::showsAsControl(byte) && (sim::consoleConverts() || isatty(STDOUT_FILENO) == 1);
}

bool toUtf8(const std::string& ansi, std::string& utf8) { return sim::ansiToUtf8(ansi, utf8); }

std::string toUtf8OrMark(const std::string& ansi) { return sim::ansiToUtf8OrMark(ansi); }

// Names and accounts as VeskCfg takes them: from the locale's character set
// into the code page, never mangled.
bool fromCommandLine(std::string& text, const char* what, std::string& why) {
    std::string ansi;
    char32_t lacking = 0;
    if (!sim::localeToAnsi(text, ansi, lacking)) {
        why = std::string(what) + " holds " + sim::lackingText(lacking);
        return false;
    }
    text = ansi;
    return true;
}

bool settle(Settings& settings) {
    if (settings.world.empty()) settings.world = sim::worldRoot();
    if (settings.console.empty()) settings.console = sim::localComputerName();
    if (settings.console.empty()) return false;  // VESKCFG_COMPUTERNAME was refused, and said so in its one line
    if (!sim::isComputerName(settings.console)) {
        fail("\"" + settings.console + "\" cannot be a computer's name");
        return false;
    }
    // The simulation's own code reads these.
    setenv("VESKCFG_WORLD", settings.world.c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", settings.console.c_str(), 1);
    return true;
}

// Graphviz's dot, started with its arguments as they are (no shell reads
// the file's name), the DOT text on its standard input.
int drawSvg(const std::string& dot, const std::string& output) {
    const std::string target = output.empty() ? "/dev/stdout" : output;
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0) return fail(std::string("a pipe for dot: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    std::vector<std::string> arguments = {"dot", "-Tsvg", "-o", target};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    int started = posix_spawnp(&child, "dot", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    if (started != 0) {
        close(input[1]);
        return fail("Graphviz's dot cannot be started (" + std::string(std::strerror(started)) +
                    "); is it installed (apt-get install graphviz)?");
    }
    signal(SIGPIPE, SIG_IGN);  // a dot that ends early is told by its status
    for (size_t written = 0; written < dot.size();) {
        ssize_t count = write(input[1], dot.data() + written, dot.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        written += static_cast<size_t>(count);
    }
    close(input[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return fail("Graphviz's dot failed to write " + target);
    return 0;
}

int answerAsReader(int, char**) { return -1; }  // a reader is a fork, not a run of its own

}  // namespace vesknet
