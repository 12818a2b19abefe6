// A network provider for the Windows end-to-end tests, built as mpr.dll and
// loaded by Wine in place of its own (WINEDLLOVERRIDES=mpr=n), never
// installed. It answers as Windows does, from files in the folder named by
// VESKCFG_TEST_NETWORK, so that several runs see one logon session:
//   accounts     "SERVER USER:PASSWORD" lines: who may open SERVER's ipc$
//   offline      "SERVER" lines: computers that cannot be reached
//   connections  "\\SERVER\share USER" lines: this logon session's connections,
//                which WNetOpenEnumA enumerates and WNetGetUserA reads
#include <windows.h>
#include <winnetwk.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string stateFile(const char* name) {
    char folder[MAX_PATH] = {};
    GetEnvironmentVariableA("VESKCFG_TEST_NETWORK", folder, sizeof folder);
    return std::string(folder) + "\\" + name;
}

std::vector<std::string> readLines(const char* name) {
    std::vector<std::string> lines;
    FILE* file = std::fopen(stateFile(name).c_str(), "rb");
    if (!file) return lines;
    char line[1024];
    while (std::fgets(line, sizeof line, file)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (!text.empty()) lines.push_back(text);
    }
    std::fclose(file);
    return lines;
}

void writeLines(const char* name, const std::vector<std::string>& lines) {
    FILE* file = std::fopen(stateFile(name).c_str(), "wb");
    if (!file) return;
    for (const std::string& line : lines) std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
}

bool same(const std::string& left, const std::string& right) { return lstrcmpiA(left.c_str(), right.c_str()) == 0; }

// \\SERVER\share into its two parts.
bool split(const std::string& remote, std::string& server, std::string& share) {
    if (remote.compare(0, 2, "\\\\") != 0) return false;
    size_t slash = remote.find('\\', 2);
    if (slash == std::string::npos || slash == 2) return false;
    server = remote.substr(2, slash - 2);
    share = remote.substr(slash + 1);
    return !share.empty() && share.find('\\') == std::string::npos;
}

}  // namespace

extern "C" DWORD WINAPI WNetAddConnection2A(LPNETRESOURCEA resource, LPCSTR password, LPCSTR userName, DWORD) {
    std::string server, share;
    if (!resource || !resource->lpRemoteName || !split(resource->lpRemoteName, server, share))
        return ERROR_NO_NET_OR_BAD_PATH;
    for (const std::string& down : readLines("offline"))
        if (same(down, server)) return ERROR_BAD_NETPATH;
    std::string user = userName ? userName : "", secret = password ? password : "";
    bool known = false, admitted = false;
    for (const std::string& line : readLines("accounts")) {
        size_t blank = line.find(' '), colon = line.find(':', blank);
        if (blank == std::string::npos || colon == std::string::npos || !same(line.substr(0, blank), server)) continue;
        known = true;
        if (same(line.substr(blank + 1, colon - blank - 1), user) && line.substr(colon + 1) == secret) admitted = true;
    }
    if (!known) return ERROR_BAD_NETPATH;
    if (!same(share, "ipc$")) return ERROR_BAD_NET_NAME;
    std::vector<std::string> connections = readLines("connections");
    bool open = false;
    for (const std::string& line : connections) {
        size_t blank = line.find(' ');
        std::string otherServer, otherShare;
        if (!split(line.substr(0, blank), otherServer, otherShare) || !same(otherServer, server)) continue;
        if (!same(line.substr(blank + 1), user)) return ERROR_SESSION_CREDENTIAL_CONFLICT;
        if (same(line.substr(0, blank), resource->lpRemoteName)) open = true;
    }
    if (!admitted) return ERROR_LOGON_FAILURE;
    if (!open) {
        connections.push_back(std::string(resource->lpRemoteName) + " " + user);
        writeLines("connections", connections);
    }
    return NO_ERROR;
}

// Cancelling by remote name cancels every connection to it of the session.
extern "C" DWORD WINAPI WNetCancelConnection2A(LPCSTR name, DWORD, BOOL) {
    if (!name) return ERROR_INVALID_PARAMETER;
    std::vector<std::string> kept, connections = readLines("connections");
    for (const std::string& line : connections)
        if (!same(line.substr(0, line.find(' ')), name)) kept.push_back(line);
    if (kept.size() == connections.size()) return ERROR_NOT_CONNECTED;
    writeLines("connections", kept);
    return NO_ERROR;
}

// The session's connections, as WNetOpenEnum(RESOURCE_CONNECTED) gives them:
// an enumeration is its next position in the connections file.
extern "C" DWORD WINAPI WNetOpenEnumA(DWORD scope, DWORD, DWORD, LPNETRESOURCEA, LPHANDLE handle) {
    if (!handle) return ERROR_INVALID_PARAMETER;
    if (scope != RESOURCE_CONNECTED) return ERROR_NOT_SUPPORTED;
    *handle = new size_t(0);
    return NO_ERROR;
}

// One connection a call, its remote name in the buffer after the structure.
extern "C" DWORD WINAPI WNetEnumResourceA(HANDLE handle, LPDWORD count, LPVOID buffer, LPDWORD size) {
    if (!handle || !count || !buffer || !size) return ERROR_INVALID_PARAMETER;
    size_t& at = *static_cast<size_t*>(handle);
    std::vector<std::string> connections = readLines("connections");
    if (at >= connections.size()) return ERROR_NO_MORE_ITEMS;
    std::string remote = connections[at].substr(0, connections[at].find(' '));
    DWORD needed = static_cast<DWORD>(sizeof(NETRESOURCEA) + remote.size() + 1);
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    auto* resource = static_cast<NETRESOURCEA*>(buffer);
    *resource = {};
    resource->dwScope = RESOURCE_CONNECTED;
    resource->lpRemoteName = static_cast<char*>(buffer) + sizeof(NETRESOURCEA);
    std::memcpy(resource->lpRemoteName, remote.c_str(), remote.size() + 1);
    *count = 1;
    ++at;
    return NO_ERROR;
}

extern "C" DWORD WINAPI WNetCloseEnum(HANDLE handle) {
    delete static_cast<size_t*>(handle);
    return NO_ERROR;
}

// The account a connection was made with.
extern "C" DWORD WINAPI WNetGetUserA(LPCSTR name, LPSTR user, LPDWORD length) {
    if (!name || !user || !length) return ERROR_INVALID_PARAMETER;
    for (const std::string& line : readLines("connections")) {
        size_t blank = line.find(' ');
        if (blank == std::string::npos || !same(line.substr(0, blank), name)) continue;
        std::string account = line.substr(blank + 1);
        if (*length < account.size() + 1) {
            *length = static_cast<DWORD>(account.size() + 1);
            return ERROR_MORE_DATA;
        }
        std::memcpy(user, account.c_str(), account.size() + 1);
        return NO_ERROR;
    }
    return ERROR_NOT_CONNECTED;
}
