// The lists of real servers, read as VeskCfg reads them: a connection to the
// server's ipc$ with the account the console stores for it (never asked
// for), the registry reached over it, the connection cancelled again. Each
// primary is read by a process of its own, up to `jobs` at once (the
// platform's readers.cc): the smb network's client and the world's files
// serve one thread only, and a slow or silent server holds up only its own
// process. What each found comes back on a pipe; the view is filled in the
// primaries' order, whatever order they answer in.
#include "tools/vesknet/remote_lists.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "credentials/scramble.h"
#include "credentials/wipe.h"
#include "credentials/stored_record.h"
#include "platform/maker.h"
#include "platform/win32.h"
#include "store/role_record.h"

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

// More names than any grouping has: a list past them is a server's that
// answers without end, and it would only fill the memory.
constexpr size_t kMostNames = 1000000;

// The list key's names below root, a registry's HKEY_LOCAL_MACHINE.
Found listIn(HKEY root) {
    HKEY list = nullptr;
    char path[MAX_PATH] = {};
    ZenthalListRoot(path, sizeof path);
    std::strncat(path, "\\VeskDistributedServers", sizeof path - std::strlen(path) - 1);
    LONG code = RegOpenKeyExA(root, path, 0, KEY_READ, &list);
    if (code == ERROR_FILE_NOT_FOUND) return {"none", 0, {}, ""};
    if (code) return unreachable(static_cast<DWORD>(code));
    Found found = {"list", 0, {}, ""};
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
    return found;
}

// The list of a server reached over a connection already open.
Found walkList(const std::string& server) {
    HKEY root = nullptr;
    if (LONG code = RegConnectRegistryA(server.c_str(), HKEY_LOCAL_MACHINE, &root))
        return unreachable(static_cast<DWORD>(code));
    Found found = listIn(root);
    RegCloseKey(root);
    return found;
}

// \\SERVER\ipc$, as VeskCfg names the share it connects to.
std::string ipcOf(const std::string& server) { return std::string("\\\\").append(server).append("\\ipc$"); }

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
    std::string remote = ipcOf(server);
    NETRESOURCEA resource = {RESOURCE_GLOBALNET, RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_GENERIC,
                             RESOURCEUSAGE_CONNECTABLE, nullptr, remote.data(), nullptr, nullptr};
    DWORD code = WNetAddConnection2A(&resource, password, user, 0);
    wipeSecret(password, sizeof password);
    if (code) return unreachable(code);
    Found found = walkList(server);
    if (!alreadyConnected) WNetCancelConnection2A(remote.c_str(), 0, TRUE);
    return found;
}

std::string answerText(const Found& found) {
    std::string text = found.kind;
    if (found.kind == "unreachable") text.append(" ").append(std::to_string(found.code));
    text += "\n";
    for (const std::string& name : found.names) text += hexOf(name) + "\n";
    return text + "end\n";
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

// The answer as found: a reader given up is a timeout (1460), one that
// ended without a whole answer says how it ended.
Found foundIn(const Answer& answer) {
    if (answer.timedOut) return unreachable(ERROR_TIMEOUT);
    Found found = parseFound(answer.text);
    if (found.kind != "failed") return found;
    found.why = (answer.howEnded.empty() ? "its reader ended" : answer.howEnded) + " before it had answered";
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

// What was found of a computer's list, in the view.
void fill(Computer& computer, const Found& found) {
    computer.hasList = found.kind == "list";
    computer.list = found.names;
    computer.listed.clear();
    for (const std::string& name : found.names) computer.listed.insert(upperName(name));
    if (found.kind == "unreachable") computer.unreachable = codeAndText(found.code);
    if (found.kind == "failed") computer.unreachable = found.why;
    if (found.kind == "overlong")
        computer.unreachable = "its list holds more than " + std::to_string(kMostNames) + " names, more than a primary lists";
}

}  // namespace

// The connections' lines begin with the remote name; a world's write its
// blanks as %20, and a server's name has none.
bool connectedTo(const NetworkView& view, const std::string& server) {
    for (const std::string& line : view.connections) {
        std::string remote = line.substr(0, line.find(' '));
        if (sameName(remote, ipcOf(server))) return true;
    }
    return false;
}

void cancelLeftBehind(const NetworkView& view, const std::string& server) {
    if (connectedTo(view, server)) return;  // the console's own, before vesknet
    std::string remote = ipcOf(server);
    WNetCancelConnection2A(remote.c_str(), 0, TRUE);
}

std::string bytesOf(const std::string& hex) {
    std::string out;
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (size_t at = 0; at + 1 < hex.size(); at += 2) out += static_cast<char>(digit(hex[at]) * 16 + digit(hex[at + 1]));
    return out;
}

std::string readerAnswer(const std::string& server, bool alreadyConnected) {
    return answerText(readOne(server, alreadyConnected));
}

void readListHere(Computer& computer) { fill(computer, listIn(HKEY_LOCAL_MACHINE)); }

void readRemoteLists(NetworkView& view, const RemoteReading& reading) {
    // Every primary the console's records name, but the console itself,
    // whose list its own registry holds.
    std::set<std::string> seen;
    std::vector<std::string> primaries;
    for (const Record& record : view.records) {
        if (!record.readable || record.primary.empty() || sameName(record.primary, view.console)) continue;
        if (seen.insert(upperName(record.primary)).second) primaries.push_back(record.primary);
    }
    std::sort(primaries.begin(), primaries.end());
    std::vector<Answer> answers = readInProcesses(view, primaries, reading);
    for (size_t i = 0; i < primaries.size(); ++i) {
        auto known = view.computerAt.find(upperName(primaries[i]));
        if (known == view.computerAt.end()) {
            Computer added;
            added.name = primaries[i];
            view.computers.push_back(std::move(added));
            known = view.computerAt.emplace(upperName(primaries[i]), view.computers.size() - 1).first;
        }
        Computer& computer = view.computers[known->second];
        Found found = foundIn(answers[i]);
        computer.overNetwork = true;
        fill(computer, found);
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
    for (size_t at = 0; at < view.computers.size(); ++at) view.computerAt.emplace(upperName(view.computers[at].name), at);
}

}  // namespace vesknet
