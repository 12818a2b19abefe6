#include "tools/support/run_veskcfg.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;

bool echoIsOff(int master) {
    struct termios mode;
    return tcgetattr(master, &mode) == 0 && !(mode.c_lflag & ECHO);
}

// A prompt reads keys once the terminal has neither echo nor signal keys: the
// run holds typed keys unechoed from its start, with Ctrl+C still a signal.
bool readsKeys(int master) {
    struct termios mode;
    return tcgetattr(master, &mode) == 0 && !(mode.c_lflag & (ECHO | ISIG));
}

bool exited(pid_t child, int& status, long& peakKb) {
    if (status != -1) return true;
    int raw = 0;
    struct rusage usage = {};
    if (wait4(child, &raw, WNOHANG, &usage) != child) return false;
    peakKb = usage.ru_maxrss;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

// A limit on how long a run may take, not counting the time it waits for
// another run: however many runs wait their turn, none is cut short, and a
// hung one still ends.
class Deadline {
public:
    Deadline(pid_t child, std::chrono::seconds allowed) : child_(child), end_(Clock::now() + allowed) {}
    bool passed() {
        auto now = Clock::now();
        if (now - looked_ >= std::chrono::milliseconds(50)) {
            if (waitsForALock(child_)) end_ += now - looked_;
            looked_ = now;
        }
        return now > end_;
    }

private:
    pid_t child_;
    Clock::time_point end_;
    Clock::time_point looked_ = Clock::now();
};

void drain(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        struct pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0) return;
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) return;
        into.append(buffer, static_cast<size_t>(count));
    }
}

size_t promptsShown(const std::string& out) {
    size_t count = 0;
    for (size_t at = out.find(" Press <Esc> to quit"); at != std::string::npos; at = out.find(" Press <Esc> to quit", at + 1))
        ++count;
    return count;
}

extern "C" char** environ;

// This process's environment with the settings given in place of its own.
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& given) {
    std::vector<std::string> settings;
    for (char** each = environ; *each; ++each) {
        std::string_view setting(*each);
        std::string_view name = setting.substr(0, setting.find('='));
        bool replaced = false;
        for (const auto& pair : given) replaced = replaced || pair.first == name;
        if (!replaced) settings.emplace_back(setting);
    }
    for (size_t i = 0; i < given.size(); ++i) {
        bool givenAgain = false;  // the last setting of a name is the one that holds
        for (size_t later = i + 1; later < given.size(); ++later) givenAgain = givenAgain || given[later].first == given[i].first;
        if (!givenAgain) settings.push_back(given[i].first + "=" + given[i].second);
    }
    return settings;
}

// Readable once the child has ended, so that a wait wakes at its end rather
// than at its next look (timings taken through the runner depend on it); -1
// where the system has no such descriptor.
int exitDescriptor(pid_t child) { return static_cast<int>(syscall(SYS_pidfd_open, child, 0)); }

// Waits until the prompt-th prompt has been shown and reads keys, or the
// child has ended; at most 15 seconds of the child's own.
void waitForPrompt(size_t prompt, int master, int out, std::string& shown, pid_t child, int ended, int& status,
                   long& peakKb) {
    Deadline deadline(child, std::chrono::seconds(15));
    while (!deadline.passed() && !exited(child, status, peakKb)) {
        drain(out, shown);
        if (promptsShown(shown) >= prompt && readsKeys(master)) return;
        // The terminal's mode changes without a sign on any descriptor: look
        // again soon (a tenth of a millisecond), sooner when output comes.
        struct pollfd ready[2] = {{out, POLLIN, 0}, {ended, POLLIN, 0}};
        const struct timespec soon = {0, 100000};
        ppoll(ready, 2, &soon, nullptr);
    }
}

// As a shell runs a job: the program in a process group of its own, in the
// foreground of the terminal, under a parent in the same session that waits
// for it and ends as it ended. (A process group without such a parent is
// orphaned, and the system then ignores Ctrl-Z for it.) Returns in the child.
void runAsForegroundJob(int terminal) {
    pid_t job = fork();
    sigset_t ttou, before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &before);
    if (job == 0) {
        setpgid(0, 0);
        tcsetpgrp(terminal, getpid());
        sigprocmask(SIG_SETMASK, &before, nullptr);
        return;
    }
    setpgid(job, job);
    tcsetpgrp(terminal, job);
    closefrom(3);
    int status = 0;
    while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        sigprocmask(SIG_SETMASK, &before, nullptr);
        kill(getpid(), WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

}  // namespace

// The system lists each wait for a lock in /proc/locks as "-> FLOCK ... <pid> ...".
bool waitsForALock(pid_t process) {
    FILE* locks = std::fopen("/proc/locks", "r");
    if (!locks) return false;
    char line[256];
    bool waits = false;
    while (!waits && std::fgets(line, sizeof line, locks)) {
        long pid = 0;
        char kind[16];
        waits = std::sscanf(line, "%*d: -> %15s %*s %*s %ld", kind, &pid) == 2 && pid == process;
    }
    std::fclose(locks);
    return waits;
}

RunResult runVeskCfg(const char* binary, const std::vector<std::string>& arguments, const RunOptions& options) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};

    // Everything the child needs is made before fork: in a process of many
    // threads, the child may not allocate (another thread may have held the
    // allocator's lock at the fork).
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // The C locale unless the run asks for another: what a run prints must
    // not depend on the locale of whoever runs the tests.
    std::vector<std::pair<std::string, std::string>> environment = {{"LC_ALL", "C"}};
    environment.insert(environment.end(), options.environment.begin(), options.environment.end());
    std::vector<std::string> settings = environmentWith(environment);
    std::vector<char*> envp;
    for (std::string& setting : settings) envp.push_back(setting.data());
    envp.push_back(nullptr);

    pid_t child = fork();
    if (child == 0) {
        setsid();
        if (options.terminal) ioctl(slave, TIOCSCTTY, 0);
        if (options.jobControl) runAsForegroundJob(slave);
        int nothing = open("/dev/null", O_RDONLY);
        dup2(options.inputOnTerminal ? slave : nothing, 0);
        if (options.inputClosed) close(0);
        if (options.childSignalsIgnored) signal(SIGCHLD, SIG_IGN);
        dup2(options.outputOnTerminal ? slave : outPipe[1], 1);
        dup2(errPipe[1], 2);
        closefrom(3);
        execve(binary, argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    int ended = exitDescriptor(child);

    RunResult result;
    int watched = options.outputOnTerminal ? master : outPipe[0];
    std::string& watchedText = options.outputOnTerminal ? result.echo : result.out;
    for (size_t prompt = 1; prompt <= options.keys.size(); ++prompt) {
        waitForPrompt(prompt, master, watched, watchedText, child, ended, result.status, result.peakKb);
        if (exited(child, result.status, result.peakKb)) break;
        const std::string& keys = options.keys[prompt - 1];
        ssize_t ignored = write(master, keys.data(), keys.size());
        (void)ignored;
    }
    if (options.afterTyping && !exited(child, result.status, result.peakKb)) options.afterTyping(child, master);
    if (options.atPrompt) {
        waitForPrompt(options.keys.size() + 1, master, watched, watchedText, child, ended, result.status,
                      result.peakKb);
        if (!exited(child, result.status, result.peakKb)) options.atPrompt(child, master);
    }
    Deadline deadline(child, std::chrono::seconds(options.limitSeconds));
    while (!exited(child, result.status, result.peakKb)) {
        drain(outPipe[0], result.out);
        drain(errPipe[0], result.err);
        drain(master, result.echo);
        if (deadline.passed()) {  // never let a hung run hang the suite
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            result.status = -1;
            break;
        }
        // Wake as soon as there is output to take, so that a child writing much
        // never waits on a full pipe, or as soon as it has ended.
        struct pollfd ready[4] = {
            {outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {master, POLLIN, 0}, {ended, POLLIN, 0}};
        poll(ready, 4, 2);
    }
    drain(outPipe[0], result.out);
    drain(errPipe[0], result.err);
    drain(master, result.echo);
    result.echoOnAtEnd = !echoIsOff(master);
    if (ended >= 0) close(ended);
    close(outPipe[0]);
    close(errPipe[0]);
    close(master);
    close(slave);
    return result;
}

bool drivesTerminal(const std::string& shown) {
    for (size_t at = 0; at < shown.size(); ++at) {
        unsigned char byte = static_cast<unsigned char>(shown[at]);
        unsigned char next = at + 1 < shown.size() ? static_cast<unsigned char>(shown[at + 1]) : 0;
        bool trail = at > 0 && static_cast<unsigned char>(shown[at - 1]) >= 0xC0;  // a byte of a UTF-8 character
        if ((byte < 0x20 && byte != '\n' && byte != '\r') || byte == 0x7F) return true;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) return true;
        if (byte >= 0x80 && byte <= 0x9F && !trail) return true;
    }
    return false;
}
