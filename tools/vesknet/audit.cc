// The audit of a grouping, the same on every platform: each record against
// its primary's list and each list against the records, with the VeskCfg
// commands that mend what disagrees, written for the shell they are pasted
// into.
#include "tools/vesknet/network_view.h"

#include <cstring>

#include "credentials/scramble.h"
#include "credentials/wipe.h"
#include "platform/record_location.h"

namespace vesknet {

void takeFields(Record& record, ServerRoleRecord& stored) {
    record.readable = true;
    record.primary.assign(stored.primaryName, strnlen(stored.primaryName, sizeof stored.primaryName));
    record.isDistributed = stored.isDistributed;
    char userName[CREDENTIAL_FIELD_SIZE + 1] = {};
    unscrambleText(stored.userName, userName);
    record.userName = userName;
    wipeSecret(&stored, sizeof stored);
    wipeSecret(userName, sizeof userName);
}

std::string hexOf(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : bytes) {
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
    return out;
}

bool Computer::lists(const std::string& server) const { return listed.count(upperName(server)) > 0; }

const Computer* NetworkView::computer(const std::string& name) const {
    auto found = computerAt.find(upperName(name));
    return found == computerAt.end() ? nullptr : &computers[found->second];
}

const Record* NetworkView::record(const std::string& server) const {
    auto found = recordAt.find(upperName(server));
    return found == recordAt.end() ? nullptr : &records[found->second];
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

// A name as cmd.exe hands it to a program whose runtime splits its command
// line (VeskCfg.exe's): bare when plain; else quoted for the runtime (a
// quote in it written \", the backslashes before a quote doubled) and then
// every character cmd reads otherwise escaped with ^, the quotes too, so
// that cmd never takes a part of it as quoted and &, |, <, >, (, ) and %
// reach VeskCfg.exe as they are.
std::string cmdWord(const std::string& name) {
    static const char kPlain[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-+@:/=";
    static const char kCmdReads[] = "()[]%!^\"`<>&|;, *?\t";
    if (!name.empty() && name.find_first_not_of(kPlain) == std::string::npos) return name;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : name) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') quoted.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    quoted += '"';
    std::string escaped;
    for (char c : quoted) {
        if (std::strchr(kCmdReads, c) && c) escaped += '^';
        escaped += c;
    }
    return escaped;
}

// VeskCfg's frd reads a record before it deletes it, and so cannot remove
// one that does not fit in a record: its value goes by hand.
std::string deleteByHand(const NetworkView& view, const Record& record) {
    if (view.shell == MendShell::Cmd)
        return "reg delete " + cmdWord("HKLM\\" + record.keyPath) + " /v " + ROLE_RECORD_VALUE + " /f";
    const Computer* here = view.computer(view.console);
    return std::string("delete ") + ROLE_RECORD_VALUE + " of [HKEY_LOCAL_MACHINE\\" + record.keyPath + "] from " +
           view.world + "/" + (here ? here->name : view.console) + "/hklm.reg by hand (frd reads a record before it deletes it)";
}

}  // namespace

std::string commandWord(const std::string& name, MendShell shell) {
    return shell == MendShell::Cmd ? cmdWord(name) : shellWord(name);
}

std::vector<Finding> audit(const NetworkView& view) {
    auto word = [&](const std::string& name) { return commandWord(name, view.shell); };
    std::vector<Finding> findings;
    for (const Record& record : view.records) {
        const Computer* primary = record.readable ? view.computer(record.primary) : nullptr;
        // A list that cannot be read says nothing: its own finding comes below.
        if (primary && primary->listUnknown()) continue;
        if (!record.readable) {
            findings.push_back({record.server + "'s role record cannot be read", deleteByHand(view, record)});
        } else if (record.primary != record.server && !(primary && primary->lists(record.server))) {
            findings.push_back({record.server + "'s record names " + record.primary + ", which does not list it",
                                "VeskCfg frd " + word(record.primary) + " " + word(record.server)});
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
                                "(VeskCfg lp " + word(computer.name) + " shows why it cannot)"});
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
                                role == "none" ? "VeskCfg mp " + word(computer.name)
                                               : "VeskCfg frd " + word(computer.name) + ", then VeskCfg mp " +
                                                     word(computer.name)});
        }
        for (const std::string& name : computer.list) {
            const Record* record = view.record(name);
            if (!record) {
                // As an rd cut short leaves it: md brings the record back, and
                // rd then detaches it whole if that was the intent.
                findings.push_back({computer.name + " lists " + name + ", which has no role record",
                                    "VeskCfg md " + word(computer.name) + " " + word(name) + ", then VeskCfg rd " +
                                        word(computer.name) + " " + word(name) + " if it should be detached"});
            } else if (record->readable && !sameName(record->primary, computer.name)) {
                findings.push_back({computer.name + " lists " + name + ", whose record names " + record->primary,
                                    "VeskCfg frd " + word(name) + ", then VeskCfg md " + word(computer.name) + " " + word(name)});
            }
        }
    }
    return findings;
}

}  // namespace vesknet
