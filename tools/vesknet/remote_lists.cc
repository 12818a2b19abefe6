// The lists of real servers, read as VeskCfg reads them: a connection to the
// server's ipc$ with the account the console stores for it (never asked
// for), the registry reached over it, the connection cancelled again. Each
// primary is read by a process of its own, up to `jobs` at once: the smb
// network's client and the world's files serve one thread only, and a slow
// or silent server holds up only its own process. What each found comes
// back on a pipe; the view is filled in the primaries' order, whatever
// order they answer in.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "credentials/scramble.h"
#include "credentials/wipe.h"
#include "credentials/stored_record.h"
#include "platform/linux/machine/codepage.h"
#include "platform/maker.h"
#include "platform/win32.h"
#include "store/role_record.h"
#include "tools/vesknet/network_view.h"

namespace vesknet {

namespace {

// What one primary's process found, as it travels on the pipe: a first line
// "list", "none" (no list key), "unreachable CODE" or "overlong" (more names
// than kMostNames), then each name in hex, then "end": an answer without it
// was cut short. "failed": no whole answer came, for the reason in `why`.
struct Found {
    std::string kind;
    DWORD code = 0;
    std::vector<std::string> names;
    std::string why;
};

Found unreachable(DWORD code) { return {"unreachable", code, {}, ""}; }

std::string bytesOf(const std::string& hex) {
    std::string out;
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (size_t at = 0; at + 1 < hex.size(); at += 2) out += static_cast<char>(digit(hex[at]) * 16 + digit(hex[at + 1]));
    return out;
}

// More names than any grouping has: a list past them is a server's that
// answers without end, and it would only fill the memory.
constexpr size_t kMostNames = 1000000;

// The list key's names, through the registry of a server reached over a
// connection already open.
Found walkList(const std::string& server) {
    HKEY root = nullptr, list = nullptr;
    if (LONG code = RegConnectRegistryA(server.c_str(), HKEY_LOCAL_MACHINE, &root))
        return unreachable(static_cast<DWORD>(code));
    char path[MAX_PATH] = {};
    ZenthalListRoot(path, sizeof path);
    std::strncat(path, "\\VeskDistributedServers", sizeof path - std::strlen(path) - 1);
    LONG code = RegOpenKeyExA(root, path, 0, KEY_READ, &list);
    Found found;
    if (code == ERROR_FILE_NOT_FOUND) {
        found.kind = "none";
    } else if (code) {
        found = unreachable(static_cast<DWORD>(code));
    } else {
        found.kind = "list";
        for (DWORD index = 0;; ++index) {
            char name[MAX_PATH] = {};
            DWORD length = sizeof name;
            code = RegEnumValueA(list, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (code == ERROR_NO_MORE_ITEMS) break;
            if (code) {
                found = unreachable(static_cast<DWORD>(code));
                break;
            }
            if (found.names.size() == kMostNames) {
                found = {"overlong", 0, {}, ""};
                break;
            }
            found.names.emplace_back(name, length);
        }
        RegCloseKey(list);
    }
    RegCloseKey(root);
    return found;
}

// A primary read as VeskCfg reads it, in the process that answers for it.
// A connection the console already had is left open: it is not vesknet's.
Found readOne(const std::string& server, bool alreadyConnected) {
    ServerRoleRecord record = {};
    DWORD size = ROLE_RECORD_SIZE;
    if (StoredRecordLookup(server.c_str(), ROLE_RECORD_TYPE, &record, &size))
        return unreachable(ERROR_LOGON_FAILURE);  // no account stored for it: none can log on
    char user[CREDENTIAL_FIELD_SIZE + 1] = {}, password[CREDENTIAL_FIELD_SIZE + 1] = {};
    unscrambleText(record.userName, user);
    unscrambleText(record.password, password);
    wipeSecret(&record, sizeof record);
    std::string remote = "\\\\" + server + "\\ipc$";
    NETRESOURCEA resource = {RESOURCE_GLOBALNET, RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_GENERIC,
                             RESOURCEUSAGE_CONNECTABLE, nullptr, remote.data(), nullptr, nullptr};
    DWORD code = WNetAddConnection2A(&resource, password, user, 0);
    wipeSecret(password, sizeof password);
    if (code) return unreachable(code);
    Found found = walkList(server);
    if (!alreadyConnected) WNetCancelConnection2A(remote.c_str(), 0, TRUE);
    return found;
}

void writeFound(int to, const Found& found) {
    std::string text = found.kind + (found.kind == "unreachable" ? " " + std::to_string(found.code) : "") + "\n";
    for (const std::string& name : found.names) text += hexOf(name) + "\n";
    text += "end\n";
    for (size_t written = 0; written < text.size();) {
        ssize_t count = write(to, text.data() + written, text.size() - written);
        if (count <= 0) return;
        written += static_cast<size_t>(count);
    }
}

Found parseFound(const std::string& text) {
    Found found;
    if (text.size() < 4 || text.compare(text.size() - 4, 4, "end\n") != 0) return {"failed", 0, {}, ""};
    size_t end = text.find('\n');
    std::string first = text.substr(0, end);
    found.kind = first.substr(0, first.find(' '));
    if (found.kind == "unreachable") found.code = static_cast<DWORD>(std::strtoul(first.c_str() + 12, nullptr, 10));
    for (size_t at = end + 1; at < text.size() - 4;) {
        size_t next = text.find('\n', at);
        found.names.push_back(bytesOf(text.substr(at, next - at)));
        at = next + 1;
    }
    return found;
}

// What a reader's process left: its answer on the pipe, how it ended.
struct Answer {
    std::string text;
    int status = 0;  // waitpid's
    bool timedOut = false;
};

// The answer as found: a reader given up is a timeout (1460), one that
// ended without a whole answer says how it ended.
Found foundIn(const Answer& answer) {
    if (answer.timedOut) return unreachable(ERROR_TIMEOUT);
    Found found = parseFound(answer.text);
    if (found.kind == "overlong")
        return {"failed", 0, {}, "its list holds more than " + std::to_string(kMostNames) + " names, more than a primary lists"};
    if (found.kind != "failed") return found;
    if (WIFSIGNALED(answer.status))
        found.why = "its reader ended with signal " + std::to_string(WTERMSIG(answer.status)) + " before it had answered";
    else if (WIFEXITED(answer.status) && WEXITSTATUS(answer.status) != 0)
        found.why = "its reader ended with status " + std::to_string(WEXITSTATUS(answer.status)) + " before it had answered";
    else
        found.why = "its reader ended before it had answered";
    return found;
}

// A code as the ERROR! lines show it: the number and the system's text.
std::string codeAndText(DWORD code) {
    char* text = nullptr;
    std::string said = std::to_string(code);
    if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr) &&
        text) {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        said += " " + line;
        LocalFree(text);
    }
    return said;
}

// True when the console has a connection to server's ipc$ open already (its
// connections file, whose lines write a name's blanks as %20: a server's
// name has none).
bool connectedTo(const NetworkView& view, const std::string& server) {
    for (const std::string& line : view.connections) {
        std::string remote = line.substr(0, line.find(' '));
        if (sim::sameName(remote, "\\\\" + server + "\\ipc$")) return true;
    }
    return false;
}

// A reader's connection, which it could not cancel: one it ended without
// cancelling would outlive it, as on Windows.
void cancelLeftBehind(const NetworkView& view, const std::string& server) {
    if (connectedTo(view, server)) return;  // the console's own, before vesknet
    std::string remote = "\\\\" + server + "\\ipc$";
    WNetCancelConnection2A(remote.c_str(), 0, TRUE);
}

// One process a primary, up to jobs at once, each given up after the
// reading's seconds; each one's answer in answers[i].
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
        while (waitpid(running[i].pid, &answer.status, 0) < 0 && errno == EINTR) {
        }
        answer.timedOut = timedOut;
        if (timedOut || !WIFEXITED(answer.status) || WEXITSTATUS(answer.status) != 0)
            cancelLeftBehind(view, servers[running[i].server]);
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
                writeFound(pipeFds[1], readOne(servers[next], connectedTo(view, servers[next])));
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

}  // namespace

void readRemoteLists(NetworkView& view, const RemoteReading& reading) {
    // Every primary the console's records name, but the console itself,
    // whose list its own registry holds.
    std::set<std::string> seen;
    std::vector<std::string> primaries;
    for (const Record& record : view.records) {
        if (!record.readable || record.primary.empty() || sim::sameName(record.primary, view.console)) continue;
        if (seen.insert(sim::upperText(record.primary)).second) primaries.push_back(record.primary);
    }
    std::sort(primaries.begin(), primaries.end());
    std::vector<Answer> answers = readInProcesses(view, primaries, reading);
    for (size_t i = 0; i < primaries.size(); ++i) {
        auto known = view.computerAt.find(sim::upperText(primaries[i]));
        if (known == view.computerAt.end()) {
            Computer added;
            added.name = primaries[i];
            view.computers.push_back(std::move(added));
            known = view.computerAt.emplace(sim::upperText(primaries[i]), view.computers.size() - 1).first;
        }
        Computer& computer = view.computers[known->second];
        Found found = foundIn(answers[i]);
        computer.overNetwork = true;
        computer.hasList = found.kind == "list";
        computer.list = found.names;
        computer.listed.clear();
        for (const std::string& name : found.names) computer.listed.insert(sim::upperText(name));
        if (found.kind == "unreachable") computer.unreachable = codeAndText(found.code);
        if (found.kind == "failed") computer.unreachable = found.why;
    }
    // The view is by name, as the world's folders are.
    std::vector<size_t> order(view.computers.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return view.computers[a].name < view.computers[b].name; });
    std::vector<Computer> sorted;
    for (size_t i : order) sorted.push_back(std::move(view.computers[i]));
    view.computers = std::move(sorted);
    view.computerAt.clear();
    for (size_t at = 0; at < view.computers.size(); ++at) view.computerAt.emplace(sim::upperText(view.computers[at].name), at);
}

}  // namespace vesknet
