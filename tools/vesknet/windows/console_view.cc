// The network as the Windows console sees it: its role records read through
// the maker's record store, as VeskCfg.exe reads them; its own list from its
// registry; its connections from the network provider; each other primary's
// list over the network (remote_lists.cc).
#include "tools/vesknet/network_view.h"

#include <windows.h>
#include <winnetwk.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/maker.h"
#include "platform/record_location.h"
#include "store/record_store.h"
#include "tools/vesknet/remote_lists.h"

namespace vesknet {

namespace {

// "\\SERVER\share USER" for each connection of this logon session, as a
// world's connections file writes them.
std::vector<std::string> openConnections() {
    std::vector<std::string> lines;
    HANDLE enumeration = nullptr;
    if (WNetOpenEnumA(RESOURCE_CONNECTED, RESOURCETYPE_ANY, 0, nullptr, &enumeration) != NO_ERROR) return lines;
    std::vector<char> buffer(16384);
    for (;;) {
        DWORD count = static_cast<DWORD>(-1), size = static_cast<DWORD>(buffer.size());
        DWORD code = WNetEnumResourceA(enumeration, &count, buffer.data(), &size);
        if (code == ERROR_MORE_DATA && size > buffer.size()) {
            buffer.resize(size);
            continue;
        }
        if (code != NO_ERROR) break;
        const auto* resources = reinterpret_cast<const NETRESOURCEA*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            if (!resources[i].lpRemoteName) continue;
            char user[256 + 1 + 256] = {};
            DWORD length = sizeof user;
            std::string line = resources[i].lpRemoteName;
            if (WNetGetUserA(resources[i].lpRemoteName, user, &length) == NO_ERROR) line += std::string(" ") + user;
            lines.push_back(line);
        }
    }
    WNetCloseEnum(enumeration);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A record as VeskCfg reads it through the store: any value of at most 76
// bytes, the rest zero; a larger one is there but unreadable. False when
// server's key holds no record.
bool recordOf(const std::string& server, Record& record, LONG& code) {
    ServerRoleRecord stored;
    DWORD size = 0;
    code = readRoleRecord(server.c_str(), stored, &size);
    record.server = server;
    char path[MAX_PATH] = {};
    if (roleRecordKeyPath(server.c_str(), ROLE_RECORD_TYPE, WithoutProductName::Tallmere, path) == 0) record.keyPath = path;
    if (code == ERROR_FILE_NOT_FOUND) {
        code = 0;
        return false;
    }
    if (code == ERROR_MORE_DATA) {
        code = 0;
        return true;
    }
    if (code) return false;
    takeFields(record, stored);
    return true;
}

// The store's records, one a key below its servers root.
bool readRecords(NetworkView& view, std::string& why) {
    if (LONG code = loadStore(0)) {
        why = "the console's record store cannot be opened (error " + std::to_string(code) + ")";
        return false;
    }
    char root[MAX_PATH] = {};
    ZenthalServersRoot(root, sizeof root);
    HKEY servers = nullptr;
    LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, root, 0, KEY_READ, &servers);
    if (code == ERROR_FILE_NOT_FOUND) return true;
    for (DWORD index = 0; code == ERROR_SUCCESS; ++index) {
        char name[MAX_PATH] = {};
        DWORD length = sizeof name;
        code = RegEnumKeyExA(servers, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (code == ERROR_MORE_DATA) {  // longer than any server's name: no record of VeskCfg's
            code = ERROR_SUCCESS;
            continue;
        }
        if (code) break;
        Record record;
        if (recordOf(std::string(name, length), record, code)) view.records.push_back(record);
        if (code) why = "the record of " + std::string(name, length) + " cannot be read (error " + std::to_string(code) + ")";
    }
    if (servers) RegCloseKey(servers);
    if (code != ERROR_NO_MORE_ITEMS) {
        if (why.empty()) why = "the console's record store cannot be read (error " + std::to_string(code) + ")";
        return false;
    }
    std::sort(view.records.begin(), view.records.end(),
              [](const Record& a, const Record& b) { return a.server < b.server; });
    for (size_t at = 0; at < view.records.size(); ++at) view.recordAt.emplace(upperName(view.records[at].server), at);
    return true;
}

}  // namespace

bool readNetwork(const std::string&, const std::string& console, NetworkView& view, std::string& why,
                 const RemoteReading& reading) {
    view = NetworkView();
    view.console = console;
    view.realNetwork = true;
    view.shell = MendShell::Cmd;
    if (!readRecords(view, why)) return false;
    view.connections = openConnections();
    Computer here;
    here.name = console;
    readListHere(here);
    view.computers.push_back(std::move(here));
    view.computerAt.emplace(upperName(console), 0);
    readRemoteLists(view, reading);
    return true;
}

}  // namespace vesknet
