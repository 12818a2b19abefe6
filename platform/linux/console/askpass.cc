#include "platform/linux/console/askpass.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/linux/console/charset.h"
#include "platform/linux/console/signals.h"
#include "platform/linux/machine/trace.h"

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

// Bounds on the program, as sudo and ssh keep theirs: its answer is its
// first line, read up to kLongestRead bytes, within its time (60 s, or
// VESKCFG_ASKPASS_TIMEOUT); past that it is asked to end (SIGTERM), and made
// to kGraceSeconds later (SIGKILL). What it writes after its first line is
// read and dropped, up to kMostDropped bytes: past them it writes without
// end, and its pipe is closed on it. A field keeps kFieldKeeps keys: a longer
// answer is refused whole, never sent cut to a logon that would fail.
constexpr size_t kLongestRead = 255;
constexpr size_t kMostDropped = 65536;
constexpr size_t kFieldKeeps = 20;
constexpr int kGraceSeconds = 2;
using Clock = std::chrono::steady_clock;

Clock::duration timeGiven() {
    const char* setting = std::getenv("VESKCFG_ASKPASS_TIMEOUT");
    long seconds = setting && *setting ? std::strtol(setting, nullptr, 10) : 0;
    return std::chrono::seconds(seconds >= 1 && seconds <= 3600 ? seconds : 60);
}

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

enum class Read { kLine, kNothing, kTooLong, kTimedOut };

// Up to size bytes from the program, once it wrote or its time is up: 0 at
// its output's end, -1 when the time is up or the prompt was interrupted.
ssize_t readSome(int from, Clock::time_point deadline, char* buffer, size_t size) {
    for (;;) {
        struct pollfd ready = {from, POLLIN, 0};
        int polled = poll(&ready, 1, millisecondsUntil(deadline));
        if (polled < 0 && errno == EINTR && !promptInterrupted()) continue;
        if (polled <= 0) return -1;
        ssize_t count = read(from, buffer, size);
        if (count >= 0 || errno != EINTR) return count < 0 ? 0 : count;
    }
}

// The program's first line, held in one place, never moved, and what
// follows it dropped.
Read readFirstLine(int from, Clock::time_point deadline, std::string& line) {
    line.reserve(kLongestRead + 1);
    bool wrote = false;
    char byte = 0;
    ssize_t count;
    while ((count = readSome(from, deadline, &byte, 1)) == 1 && byte != '\n') {
        wrote = true;
        if (line.size() == kLongestRead) return Read::kTooLong;
        line += byte;
    }
    byte = 0;
    if (count < 0) return promptInterrupted() ? Read::kNothing : Read::kTimedOut;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    char dropped[512];
    for (size_t total = 0; count > 0 && total < kMostDropped; total += static_cast<size_t>(count))
        count = readSome(from, deadline, dropped, sizeof dropped);
    explicit_bzero(dropped, sizeof dropped);
    return wrote ? Read::kLine : Read::kNothing;
}

// True when the program ended by itself, with status 0, within its time;
// past it, or on an interrupt, it is ended.
bool endedWell(pid_t child, Clock::time_point deadline) {
    int status = 0;
    for (;;) {
        pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (ended < 0 && errno != EINTR) return false;
        if (promptInterrupted() || Clock::now() >= deadline) break;
        usleep(10000);
    }
    kill(child, SIGTERM);
    for (auto killAt = Clock::now() + std::chrono::seconds(kGraceSeconds); Clock::now() < killAt; usleep(10000))
        if (waitpid(child, &status, WNOHANG) == child) return false;
    kill(child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
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
    const Clock::time_point deadline = Clock::now() + timeGiven();
    std::string line;
    Read read = readFirstLine(answer[0], deadline, line);
    close(answer[0]);  // what it writes after its first line goes nowhere
    bool answered = endedWell(child, deadline) && read == Read::kLine && !promptInterrupted();
    promptSignalsOff();
    std::string keys;
    keys.reserve(line.size() + 1);  // held in one place, never moved
    char32_t lacking = 0;
    bool converted = answered && localeToAnsi(line, keys, lacking);
    if (read == Read::kTimedOut || Clock::now() >= deadline) {
        diagnose("VESKCFG_ASKPASS gave no answer within %lld s and was ended: the prompt ends as Esc.",
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(timeGiven()).count()));
        answered = false;
    } else if (read == Read::kTooLong || (converted && keys.size() > kFieldKeeps)) {
        diagnose("VESKCFG_ASKPASS answered with more than the %zu characters a field keeps: the prompt ends as Esc, "
                 "and nothing is sent cut short.", kFieldKeeps);
        answered = false;
    } else if (answered && !converted) {
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
