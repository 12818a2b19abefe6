// The network as a world holds it: its computers' folders, the console's
// record store and list in their hive files, read with the simulation's own
// code; on the smb network the primaries' lists come from the real servers.
#include "tools/vesknet/network_view.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "platform/maker.h"
#include "platform/record_location.h"
#include "platform/linux/machine/codepage.h"
#include "platform/linux/hosts/faults.h"
#include "platform/linux/machine/files.h"
#include "platform/linux/hosts/world/hive.h"
#include "platform/linux/hosts/host.h"
#include "platform/linux/machine/lines.h"
#include "store/role_record.h"

namespace vesknet {

namespace {

std::vector<std::string> linesOfFile(const std::string& path) {
    std::vector<std::string> lines;
    std::string content;
    if (sim::readWholeFile(path, content)) return lines;
    for (std::string_view line : sim::LinesOf(content))
        if (!line.empty()) lines.emplace_back(line);
    return lines;
}

// The user names of an accounts file, whose passwords are read with them
// and wiped.
std::vector<std::string> accountNames(const std::string& path) {
    std::vector<std::string> names;
    sim::FileText accounts;
    if (sim::readWholeFile(path, accounts) == ERROR_SUCCESS)
        for (std::string_view line : sim::LinesOf(accounts.view()))
            if (!line.empty()) names.emplace_back(line.substr(0, line.find(':')));
    accounts.wipe();
    return names;
}

// 0 with the hive read; the first line it cannot read; or 0 and an empty
// hive when there is no file. problem: why a file that is there cannot be
// read at all.
size_t readHive(const std::string& folder, sim::Hive& hive, std::string& problem) {
    sim::FileText text;
    LONG code = sim::readWholeFile(folder + "/hklm.reg", text);
    if (code == ERROR_FILE_NOT_FOUND) return 0;
    if (code) {
        problem = "cannot be read (error " + std::to_string(code) + ")";
        return 0;
    }
    return sim::parseHive(hive, std::move(text));
}

void readList(const std::string& folder, Computer& computer) {
    sim::Hive hive;
    computer.hiveBadLine = readHive(folder, hive, computer.hiveProblem);
    if (computer.hiveUnusable()) return;
    char root[MAX_PATH] = {};
    ZenthalListRoot(root, sizeof root);
    sim::RegKey* list = hive.find(std::string(root) + "\\VeskDistributedServers");
    if (!list) return;
    computer.hasList = true;
    sim::ValueCursor cursor;
    sim::ValueView value;
    for (size_t index = 0; hive.valueAt(*list, index, cursor, value); ++index) {
        computer.list.emplace_back(value.name);
        computer.listed.insert(sim::upperText(value.name));
    }
}

// A record as VeskCfg reads it: any value of at most 76 bytes, the rest zero.
// False when there is none: a key without its value holds no record.
bool recordOf(const std::string& server, sim::Hive& hive, sim::RegKey& key, Record& record) {
    record.server = server;
    sim::ValueView slot;
    if (!hive.findValue(key, ROLE_RECORD_VALUE, slot)) return false;
    if (slot.data.size() > ROLE_RECORD_SIZE) return true;
    ServerRoleRecord stored = {};
    std::memcpy(&stored, slot.data.data(), slot.data.size());
    takeFields(record, stored);
    return true;
}

bool readRecords(const std::string& folder, NetworkView& view, std::string& why) {
    sim::Hive hive;
    std::string problem;
    size_t line = readHive(folder, hive, problem);
    if (!problem.empty()) {
        why = folder + "/hklm.reg " + problem + ": the console's record store cannot be read";
        return false;
    }
    if (line) {
        why = folder + "/hklm.reg, line " + std::to_string(line) + ": the console's record store cannot be parsed";
        return false;
    }
    char root[MAX_PATH] = {};
    ZenthalServersRoot(root, sizeof root);
    sim::RegKey* servers = hive.find(root);
    if (!servers) return true;
    for (sim::RegKey* server : hive.subkeysOf(*servers)) {
        std::string name = server->path.substr(servers->path.size() + 1);
        char path[MAX_PATH] = {};
        if (roleRecordKeyPath(name.c_str(), ROLE_RECORD_TYPE, WithoutProductName::Tallmere, path)) continue;
        sim::RegKey* slot = hive.find(path);
        Record record;
        record.keyPath = path;
        if (slot && recordOf(name, hive, *slot, record)) view.records.push_back(record);
    }
    std::sort(view.records.begin(), view.records.end(),
              [](const Record& a, const Record& b) { return a.server < b.server; });
    for (size_t at = 0; at < view.records.size(); ++at) view.recordAt.emplace(sim::upperText(view.records[at].server), at);
    return true;
}

}  // namespace

bool readNetwork(const std::string& world, const std::string& console, NetworkView& view, std::string& why,
                 const RemoteReading& reading) {
    sim::injectFaults(false);  // the world as it is, not as a faults file would make a call see it
    view = NetworkView();
    view.world = world;
    view.console = console;
    DIR* dir = opendir(world.c_str());
    if (!dir) {
        why = world + ": no such world";
        return false;
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        std::string folder = world + "/" + name;
        struct stat info;
        if (name[0] == '.' || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
        Computer computer;
        computer.name = name;
        computer.offline = sim::identityOf(folder + "/offline").exists;
        computer.accounts = accountNames(folder + "/accounts");
        computer.faults = linesOfFile(folder + "/faults");
        readList(folder, computer);
        view.computers.push_back(std::move(computer));
    }
    closedir(dir);
    std::sort(view.computers.begin(), view.computers.end(),
              [](const Computer& a, const Computer& b) { return a.name < b.name; });
    for (size_t at = 0; at < view.computers.size(); ++at) view.computerAt.emplace(sim::upperText(view.computers[at].name), at);
    const Computer* here = view.computer(console);
    if (!here) return true;  // nothing stored yet
    std::string folder = world + "/" + here->name;
    view.connections = linesOfFile(folder + "/connections");
    if (!readRecords(folder, view, why)) return false;
    view.realNetwork = sim::onRealNetwork();
    if (view.realNetwork) readRemoteLists(view, reading);
    return true;
}

// The world's names compare as the simulation compares them.
std::string upperName(const std::string& name) { return sim::upperText(name); }

bool sameName(const std::string& left, const std::string& right) { return sim::sameName(left, right); }

}  // namespace vesknet
