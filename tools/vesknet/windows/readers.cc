// The readers of a real network's primaries on Windows: vesknet.exe started
// again for each (--reader), its answer on an anonymous pipe that is drained
// as it comes, each given up at its deadline with TerminateProcess.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/vesknet/remote_lists.h"

namespace vesknet {

namespace {

using Clock = std::chrono::steady_clock;

struct Running {
    HANDLE process;
    HANDLE from;
    size_t server;
    Clock::time_point deadline;
};

// A reader for server, its standard output the write end of a pipe that only
// it holds; false when none could be started.
bool start(const std::string& self, const std::string& server, bool connected, Running& running) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 65536)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    // The name travels in hex: no quoting of the command line can change it.
    std::string commandLine = "\"" + self + "\" --reader " + hexOf(server) + (connected ? " 1" : " 0");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(self.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writeEnd);  // the next reader must not inherit it, nor keep this pipe open
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    CloseHandle(process.hThread);
    running.process = process.hProcess;
    running.from = readEnd;
    return true;
}

// Empty for a reader that ended of itself with status 0.
std::string howEnded(DWORD status) {
    if (status == 0) return "";
    char text[64];
    if (status >= 0xC0000000u)
        std::snprintf(text, sizeof text, "its reader ended with exception 0x%08lX", static_cast<unsigned long>(status));
    else
        std::snprintf(text, sizeof text, "its reader ended with status %lu", static_cast<unsigned long>(status));
    return text;
}

// What the pipe holds now into text; false once the reader closed it.
bool drain(HANDLE from, std::string& text, bool& gotSome) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(from, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        char buffer[65536];
        DWORD count = 0;
        if (!ReadFile(from, buffer, std::min<DWORD>(available, sizeof buffer), &count, nullptr)) return false;
        text.append(buffer, count);
        gotSome = true;
    }
}

}  // namespace

std::vector<Answer> readInProcesses(const NetworkView& view, const std::vector<std::string>& servers,
                                    const RemoteReading& reading) {
    std::vector<Answer> answers(servers.size());
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::vector<Running> running;
    size_t next = 0, done = 0;
    const auto started = Clock::now();
    const bool showProgress = GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
    bool progressShown = false;
    std::fflush(stdout);
    auto finish = [&](size_t i, bool timedOut) {
        Answer& answer = answers[running[i].server];
        if (timedOut) TerminateProcess(running[i].process, ERROR_TIMEOUT);
        // A reader that closed its pipe is ending; one that lingers is
        // held to its deadline all the same.
        if (!timedOut) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(running[i].deadline - Clock::now()).count();
            if (WaitForSingleObject(running[i].process, static_cast<DWORD>(std::max<long long>(left, 0))) == WAIT_TIMEOUT) {
                TerminateProcess(running[i].process, ERROR_TIMEOUT);
                timedOut = true;
            }
        }
        WaitForSingleObject(running[i].process, INFINITE);
        DWORD status = 0;
        GetExitCodeProcess(running[i].process, &status);
        CloseHandle(running[i].process);
        CloseHandle(running[i].from);
        answer.timedOut = timedOut;
        answer.howEnded = timedOut ? "" : howEnded(status);
        if (timedOut || !answer.howEnded.empty()) cancelLeftBehind(view, servers[running[i].server]);
        ++done;
        running.erase(running.begin() + static_cast<long>(i));
    };
    while (done < servers.size()) {
        while (running.size() < std::max(1u, reading.jobs) && next < servers.size()) {
            Running one = {nullptr, nullptr, next, Clock::now() + std::chrono::seconds(reading.seconds)};
            if (start(self, servers[next], connectedTo(view, servers[next]), one))
                running.push_back(one);
            else
                ++done;  // no process for it: it reads as unreached
            ++next;
        }
        bool gotSome = false;
        const auto now = Clock::now();
        for (size_t i = 0; i < running.size();) {
            if (!drain(running[i].from, answers[running[i].server].text, gotSome))
                finish(i, false);
            else if (now >= running[i].deadline)
                finish(i, true);
            else
                ++i;
        }
        if (!gotSome && !running.empty()) Sleep(5);
        if (showProgress && now - started > std::chrono::seconds(1)) {
            std::fprintf(stderr, "\rvesknet: %zu of %zu primaries read", done, servers.size());
            progressShown = true;
        }
    }
    if (progressShown) std::fprintf(stderr, "\r%*s\r", 40, "");
    return answers;
}

}  // namespace vesknet
