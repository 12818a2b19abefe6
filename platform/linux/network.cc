// Windows networking: the logon session's connections, whichever host
// answers for each computer. A deviceless connection belongs to the logon
// session, not to the process: it outlives the run that made it, so the local
// computer keeps its connections in a file. A real server's session itself
// ends with the run.
#include "platform/linux/network.h"

#include <vector>

#include "platform/linux/machine/codepage.h"
#include "platform/linux/machine/files.h"
#include "platform/linux/machine/lines.h"
#include "platform/linux/hosts/host.h"
#include "platform/linux/machine/trace.h"
#include "platform/linux/machine/world.h"
#include "platform/win32.h"

namespace {

struct Connection {
    std::string remoteName;  // \\SERVER\share
    std::string user;
};

std::string connectionsPath(const std::string& localFolder) { return localFolder + "/connections"; }

// A line of the connections file is "<remote name> <user>", each with its
// blanks, control characters and '%' written as %XX, so that any name fits.
std::string encoded(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '%') {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string decoded(std::string_view text) {
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size() && sim::hexDigit(text[at + 1]) >= 0 && sim::hexDigit(text[at + 2]) >= 0) {
            out += static_cast<char>(sim::hexDigit(text[at + 1]) * 16 + sim::hexDigit(text[at + 2]));
            at += 2;
        } else {
            out += text[at];
        }
    }
    return out;
}

std::vector<Connection> readConnections(const std::string& localFolder) {
    std::vector<Connection> connections;
    std::string content;
    if (localFolder.empty() || sim::readWholeFile(connectionsPath(localFolder), content)) return connections;
    for (std::string_view line : sim::LinesOf(content)) {
        if (line.empty()) continue;
        size_t space = line.find(' ');
        if (space == std::string_view::npos) connections.push_back({decoded(line), ""});
        else connections.push_back({decoded(line.substr(0, space)), decoded(line.substr(space + 1))});
    }
    return connections;
}

// A session without connections has no file: the last cancel of a run costs
// no temporary file and no flush.
LONG writeConnections(const std::string& localFolder, const std::vector<Connection>& connections) {
    if (connections.empty()) return sim::removeFile(connectionsPath(localFolder));
    std::string content;
    for (const Connection& connection : connections)
        content += encoded(connection.remoteName) + " " + encoded(connection.user) + "\n";
    return sim::replaceFileAtomically(connectionsPath(localFolder), content);
}

// Splits \\SERVER\share at character boundaries; false when the name has
// another form.
bool splitRemoteName(const std::string& remoteName, std::string& server, std::string& share) {
    if (remoteName.compare(0, 2, "\\\\") != 0) return false;
    size_t slash = sim::findSeparator(remoteName, 2);
    if (slash == std::string::npos || slash == 2 || slash + 1 >= remoteName.size()) return false;
    server = remoteName.substr(2, slash - 2);
    share = remoteName.substr(slash + 1);
    return sim::findSeparator(share) == std::string::npos;
}

DWORD addConnection(const std::string& remoteName, const std::string& user, const char* password) {
    std::string server, share;
    if (!splitRemoteName(remoteName, server, share)) return ERROR_NO_NET_OR_BAD_PATH;
    sim::Host& host = sim::hostNamed(server);
    if (DWORD code = host.reach()) return code;
    if (!sim::sameName(share, "ipc$")) return ERROR_BAD_NET_NAME;
    std::string localFolder = sim::localComputerFolder(true);
    if (localFolder.empty()) return sim::localComputerProblem() ? sim::localComputerProblem() : ERROR_CANTWRITE;
    sim::FolderLock lock(localFolder);
    if (!lock.held()) return static_cast<DWORD>(lock.code());  // unlocked, another run's change could be lost
    std::vector<Connection> connections = readConnections(localFolder);
    bool alreadyOpen = false;
    for (const Connection& connection : connections) {
        std::string otherServer, otherShare;
        if (!splitRemoteName(connection.remoteName, otherServer, otherShare) || !sim::sameName(otherServer, server))
            continue;
        // The server may take a second session under another account, but
        // Windows refuses it on this side, and so do we.
        if (!sim::sameName(connection.user, user)) return ERROR_SESSION_CREDENTIAL_CONFLICT;
        if (sim::sameName(connection.remoteName, remoteName)) alreadyOpen = true;
    }
    if (DWORD code = host.logOn(user, password)) return code;
    if (alreadyOpen) return NO_ERROR;
    connections.push_back({remoteName, user});
    return static_cast<DWORD>(writeConnections(localFolder, connections));
}

DWORD cancelConnection(const std::string& remoteName) {
    std::string server, share;
    if (splitRemoteName(remoteName, server, share)) {
        if (DWORD code = sim::hostNamed(server).logOff()) return code;
    }
    std::string localFolder = sim::localComputerFolder(false);
    if (localFolder.empty()) return ERROR_NOT_CONNECTED;
    sim::FolderLock lock(localFolder);
    if (!lock.held()) return static_cast<DWORD>(lock.code());
    std::vector<Connection> connections = readConnections(localFolder);
    std::vector<Connection> kept;
    for (const Connection& connection : connections)
        if (!sim::sameName(connection.remoteName, remoteName)) kept.push_back(connection);
    if (kept.size() == connections.size()) return ERROR_NOT_CONNECTED;
    return static_cast<DWORD>(writeConnections(localFolder, kept));
}

}  // namespace

namespace sim {

bool hasConnection(const std::string& server, const std::string& share) {
    std::string wanted = "\\\\" + server + "\\" + share;
    for (const Connection& connection : readConnections(localComputerFolder(false)))
        if (sameName(connection.remoteName, wanted)) return true;
    return false;
}

}  // namespace sim

DWORD WNetAddConnection2A(NETRESOURCEA* resource, LPCSTR password, LPCSTR userName, DWORD) {
    if (!resource || !resource->lpRemoteName) return ERROR_INVALID_PARAMETER;
    std::string user = userName ? userName : "";
    DWORD code = addConnection(resource->lpRemoteName, user, password ? password : "");  // the caller's, never copied
    sim::trace("WNetAddConnection2A %s %s -> %u", resource->lpRemoteName, user.c_str(), code);
    return code;
}

DWORD WNetCancelConnection2A(LPCSTR name, DWORD, BOOL) {
    if (!name) return ERROR_INVALID_PARAMETER;
    DWORD code = cancelConnection(name);
    sim::trace("WNetCancelConnection2A %s -> %u", name, code);
    return code;
}
