// The readers of a real network's primaries on Linux: a process forked for
// each, its answer on a pipe, polled with the others' until its deadline.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/vesknet/remote_lists.h"

namespace vesknet {

namespace {

void writeAll(int to, const std::string& text) {
    for (size_t written = 0; written < text.size();) {
        ssize_t count = write(to, text.data() + written, text.size() - written);
        if (count <= 0) return;
        written += static_cast<size_t>(count);
    }
}

// Empty for a process that ended of itself with status 0.
std::string howEnded(int status) {
    if (WIFSIGNALED(status)) return "its reader ended with signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return "its reader ended with status " + std::to_string(WEXITSTATUS(status));
    return "";
}

}  // namespace

std::vector<Answer> readInProcesses(const NetworkView& view, const std::vector<std::string>& servers,
                                    const RemoteReading& reading) {
    using Clock = std::chrono::steady_clock;
    struct Running {
        pid_t pid;
        int from;
        size_t server;
        Clock::time_point deadline;
    };
    std::vector<Answer> answers(servers.size());
    std::vector<Running> running;
    size_t next = 0, done = 0;
    const auto started = Clock::now();
    const bool showProgress = isatty(STDERR_FILENO) == 1;
    bool progressShown = false;
    std::fflush(stdout);
    auto finish = [&](size_t i, bool timedOut) {
        Answer& answer = answers[running[i].server];
        if (timedOut) kill(running[i].pid, SIGKILL);
        close(running[i].from);
        int status = 0;
        while (waitpid(running[i].pid, &status, 0) < 0 && errno == EINTR) {
        }
        answer.timedOut = timedOut;
        answer.howEnded = howEnded(status);
        if (timedOut || !answer.howEnded.empty()) cancelLeftBehind(view, servers[running[i].server]);
        ++done;
        running.erase(running.begin() + static_cast<long>(i));
    };
    while (done < servers.size()) {
        while (running.size() < std::max(1u, reading.jobs) && next < servers.size()) {
            int pipeFds[2];
            if (pipe2(pipeFds, O_CLOEXEC) != 0) {  // no process for it: it reads as unreached
                ++next;
                ++done;
                continue;
            }
            pid_t pid = fork();
            if (pid == 0) {
                close(pipeFds[0]);
                writeAll(pipeFds[1], readerAnswer(servers[next], connectedTo(view, servers[next])));
                _exit(0);
            }
            close(pipeFds[1]);
            if (pid < 0) {
                close(pipeFds[0]);
                ++next;
                ++done;
                continue;
            }
            running.push_back({pid, pipeFds[0], next++, Clock::now() + std::chrono::seconds(reading.seconds)});
        }
        std::vector<pollfd> waiting;
        for (const Running& each : running) waiting.push_back({each.from, POLLIN, 0});
        poll(waiting.data(), waiting.size(), 200);
        const auto now = Clock::now();
        for (size_t i = 0, polled = 0; i < running.size(); ++polled) {
            char buffer[4096];
            ssize_t count = waiting[polled].revents ? read(running[i].from, buffer, sizeof buffer) : -1;
            if (count > 0) {
                answers[running[i].server].text.append(buffer, static_cast<size_t>(count));
                ++i;
            } else if (count == 0 || (waiting[polled].revents & (POLLHUP | POLLERR))) {
                finish(i, false);
            } else if (now >= running[i].deadline) {
                finish(i, true);
            } else {
                ++i;
            }
        }
        if (showProgress && now - started > std::chrono::seconds(1)) {
            std::fprintf(stderr, "\rvesknet: %zu of %zu primaries read", done, servers.size());
            progressShown = true;
        }
    }
    if (progressShown) std::fprintf(stderr, "\r\x1b[K");
    return answers;
}


}  // namespace vesknet
