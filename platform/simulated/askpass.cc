#include "platform/simulated/askpass.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/simulated/console_charset.h"
#include "platform/simulated/signals.h"
#include "platform/simulated/trace.h"

namespace sim {

namespace {

const char kEnter = '\r';
const char kEscape = 27;

const char* program() {
    const char* named = std::getenv("VESKCFG_ASKPASS");
    return named && *named ? named : nullptr;
}

// The child: the program with the prompt as its only argument, its answer
// into the pipe, nothing to read.
[[noreturn]] void becomeProgram(const char* path, const char* promptText, int answer) {
    int nothing = open("/dev/null", O_RDONLY);
    if (nothing < 0 || dup2(nothing, 0) < 0 || dup2(answer, 1) < 0) _exit(127);
    char* argv[] = {const_cast<char*>(path), const_cast<char*>(promptText), nullptr};
    execvp(path, argv);
    dprintf(2, "VeskCfg: VESKCFG_ASKPASS=\"%s\" cannot be run: %s; the prompt ends as Esc.\n", path, strerror(errno));
    _exit(127);
}

// Far more than a field takes; the line is held in one place, never moved.
constexpr size_t kLongestKept = 255;

// Everything the program writes, of which only the first line is kept: it
// is not cut off while it writes.
bool readFirstLine(int from, std::string& line) {
    line.reserve(kLongestKept + 1);
    bool wrote = false, lineEnded = false;
    char buffer[512];
    for (;;) {
        ssize_t count = read(from, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            if (promptInterrupted()) break;
            continue;
        }
        if (count <= 0) break;
        wrote = true;
        for (ssize_t i = 0; i < count && !lineEnded; ++i) {
            if (buffer[i] == '\n') lineEnded = true;
            else if (line.size() < kLongestKept) line += buffer[i];
        }
    }
    explicit_bzero(buffer, sizeof buffer);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return wrote;
}

// True when the program ended by itself with status 0.
bool succeeded(pid_t child) {
    int status = 0;
    for (;;) {
        if (waitpid(child, &status, 0) == child) break;
        if (errno != EINTR) return false;
        if (promptInterrupted()) kill(child, SIGTERM);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool askpassAnswers(bool haveTerminal) {
    if (!program()) return false;
    const char* require = std::getenv("VESKCFG_ASKPASS_REQUIRE");
    return !haveTerminal || (require && strcmp(require, "force") == 0);
}

std::string askpassKeys(const char* promptText) {
    int answer[2];
    if (pipe2(answer, O_CLOEXEC) != 0) return {kEscape};
    std::fflush(stdout);  // the prompt's text is out before the program can show anything
    std::string asked = ansiToLocale(promptText);  // the program speaks the locale's character set
    pid_t child = fork();
    if (child < 0) {
        close(answer[0]);
        close(answer[1]);
        return {kEscape};
    }
    if (child == 0) becomeProgram(program(), asked.c_str(), answer[1]);
    close(answer[1]);
    // A signal while the program runs ends the prompt as Esc, as at the
    // keyboard; the program is asked to end too.
    promptSignalsOn(nullptr);
    std::string line;
    bool wrote = readFirstLine(answer[0], line);
    close(answer[0]);
    if (promptInterrupted()) kill(child, SIGTERM);
    bool answered = succeeded(child) && wrote && !promptInterrupted();
    promptSignalsOff();
    std::string keys;
    keys.reserve(line.size() + 1);  // held in one place, never moved
    char32_t lacking = 0;
    if (answered && !localeToAnsi(line, keys, lacking)) {
        diagnose("VESKCFG_ASKPASS answered with %s: the prompt ends as Esc.", lackingText(lacking).c_str());
        answered = false;
    }
    explicit_bzero(line.data(), line.size());
    if (!answered) {
        explicit_bzero(keys.data(), keys.size());
        return {kEscape};
    }
    keys += kEnter;
    return keys;
}

}  // namespace sim
