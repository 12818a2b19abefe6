#include "tools/vesknet/network_view.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "credentials/scramble.h"
#include "credentials/wipe.h"
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
    record.readable = true;
    record.primary.assign(stored.primaryName, strnlen(stored.primaryName, sizeof stored.primaryName));
    record.isDistributed = stored.isDistributed;
    char userName[CREDENTIAL_FIELD_SIZE + 1] = {};
    unscrambleText(stored.userName, userName);
    record.userName = userName;
    wipeSecret(&stored, sizeof stored);
    wipeSecret(userName, sizeof userName);
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
        if (slot && recordOf(name, hive, *slot, record)) view.records.push_back(record);
    }
    std::sort(view.records.begin(), view.records.end(),
              [](const Record& a, const Record& b) { return a.server < b.server; });
    for (size_t at = 0; at < view.records.size(); ++at) view.recordAt.emplace(sim::upperText(view.records[at].server), at);
    return true;
}

}  // namespace

std::string hexOf(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : bytes) {
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
    return out;
}

bool Computer::lists(const std::string& server) const { return listed.count(sim::upperText(server)) > 0; }

const Computer* NetworkView::computer(const std::string& name) const {
    auto found = computerAt.find(sim::upperText(name));
    return found == computerAt.end() ? nullptr : &computers[found->second];
}

const Record* NetworkView::record(const std::string& server) const {
    auto found = recordAt.find(sim::upperText(server));
    return found == recordAt.end() ? nullptr : &records[found->second];
}

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

std::string roleOf(const NetworkView& view, const std::string& server) {
    const Record* record = view.record(server);
    if (!record) return "none";
    if (!record->readable) return "unreadable";
    return record->primary == record->server ? "primary" : "distributed";
}

namespace {

// A name as a POSIX shell takes it back as one word: bare when it holds
// only characters no shell reads otherwise (nor the mend's own ", then"),
// else in single quotes, a quote in it written '\''. A mend pasted into a
// shell runs the command it names, and nothing a list's name could add.
std::string shellWord(const std::string& name) {
    static const char kPlain[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-+@%:/=";
    if (!name.empty() && name.find_first_not_of(kPlain) == std::string::npos) return name;
    std::string quoted = "'";
    for (char c : name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::vector<Finding> audit(const NetworkView& view) {
    std::vector<Finding> findings;
    for (const Record& record : view.records) {
        const Computer* primary = record.readable ? view.computer(record.primary) : nullptr;
        // A list that cannot be read says nothing: its own finding comes below.
        if (primary && primary->listUnknown()) continue;
        if (!record.readable) {
            findings.push_back({record.server + "'s role record cannot be read", "VeskCfg frd " + shellWord(record.server)});
        } else if (record.primary != record.server && !(primary && primary->lists(record.server))) {
            findings.push_back({record.server + "'s record names " + record.primary + ", which does not list it",
                                "VeskCfg frd " + shellWord(record.primary) + " " + shellWord(record.server)});
        }
    }
    for (const Computer& computer : view.computers) {
        if (!computer.hiveProblem.empty()) {
            findings.push_back({view.world + "/" + computer.name + "/hklm.reg " + computer.hiveProblem,
                                "make it a regular file its owner may read, or restore it from a copy"});
            continue;
        }
        if (!computer.unreachable.empty()) {
            findings.push_back({computer.name + ": " + computer.unreachable,
                                "check again once " + computer.name + " can be reached with the account stored for it "
                                "(VeskCfg lp " + shellWord(computer.name) + " shows why it cannot)"});
            continue;
        }
        if (computer.hiveBadLine) {
            findings.push_back({view.world + "/" + computer.name + "/hklm.reg, line " +
                                    std::to_string(computer.hiveBadLine) + ", cannot be parsed",
                                "restore the file from a copy, or mend the line by hand"});
            continue;
        }
        if (computer.list.empty()) continue;
        std::string role = roleOf(view, computer.name);
        if (role != "primary") {
            findings.push_back({computer.name + " lists distributed servers but has no primary record (" + role + ")",
                                role == "none" ? "VeskCfg mp " + shellWord(computer.name)
                                               : "VeskCfg frd " + shellWord(computer.name) + ", then VeskCfg mp " +
                                                     shellWord(computer.name)});
        }
        for (const std::string& name : computer.list) {
            const Record* record = view.record(name);
            if (!record) {
                // As an rd cut short leaves it: md brings the record back, and
                // rd then detaches it whole if that was the intent.
                findings.push_back({computer.name + " lists " + name + ", which has no role record",
                                    "VeskCfg md " + shellWord(computer.name) + " " + shellWord(name) + ", then VeskCfg rd " +
                                        shellWord(computer.name) + " " + shellWord(name) + " if it should be detached"});
            } else if (record->readable && !sim::sameName(record->primary, computer.name)) {
                findings.push_back({computer.name + " lists " + name + ", whose record names " + record->primary,
                                    "VeskCfg frd " + shellWord(name) + ", then VeskCfg md " + shellWord(computer.name) + " " + shellWord(name)});
            }
        }
    }
    return findings;
}

}  // namespace vesknet
