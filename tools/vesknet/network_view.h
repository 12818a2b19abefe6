// What a network holds as the console sees it: the computers, the console's
// role records, each primary's list, the console's connections; and the audit
// of the grouping. On Linux it is read from a world (the simulation's own
// world and hive code) and, on the smb network, from real servers
// (linux/world_view.cc); on Windows from the console's registry through the
// maker's record store, and from real servers (windows/console_view.cc).
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/role_record.h"

namespace vesknet {

// A role record of the console's record store.
struct Record {
    std::string server;   // the key it is stored under
    bool readable = false;
    std::string primary;  // primaryName
    int isDistributed = 0;
    std::string userName;  // unscrambled; the password is never read out
    std::string keyPath;   // where it is kept, below HKEY_LOCAL_MACHINE
};

// A readable record's fields from the stored bytes, its account name
// unscrambled; the bytes, which hold the password, are wiped.
void takeFields(Record& record, ServerRoleRecord& stored);

struct Computer {
    std::string name;  // its folder's name; on Windows, the computer's
    bool offline = false;
    std::vector<std::string> accounts;  // user names only
    std::vector<std::string> faults;    // the faults file's lines
    size_t hiveBadLine = 0;             // non-zero: hklm.reg cannot be parsed there
    std::string hiveProblem;            // not empty: why hklm.reg cannot be read at all
    bool hasList = false;
    std::vector<std::string> list;  // its VeskDistributedServers, in index order

    // A real server, whose list was read over the network with the account
    // the console stores for it; not empty: why it could not be, the code
    // and its system text ("53 The network path was not found.").
    bool overNetwork = false;
    std::string unreachable;

    bool hiveUnusable() const { return hiveBadLine || !hiveProblem.empty(); }
    // What it lists is not known.
    bool listUnknown() const { return hiveUnusable() || !unreachable.empty(); }
    bool lists(const std::string& server) const;  // without regard to case
    std::unordered_set<std::string> listed;        // the list's names, upper-cased
};

// The shell a mend line is written for, so that pasted there it runs the
// command it names and nothing a name could add.
enum class MendShell {
    Posix,  // sh, bash
    Cmd,    // Windows' cmd.exe
};

struct NetworkView {
    std::string world;  // empty on Windows, which has none
    std::string console;
    bool realNetwork = false;  // the other computers are real servers (always so on Windows)
    MendShell shell = MendShell::Posix;
    std::vector<Computer> computers;  // by name
    std::vector<Record> records;      // by server
    std::vector<std::string> connections;

    const Computer* computer(const std::string& name) const;  // without regard to case
    const Record* record(const std::string& server) const;    // likewise

    // By upper-cased name, once the world is read.
    std::unordered_map<std::string, size_t> computerAt, recordAt;
};

// How the primaries of a real network are read: `jobs` at once, each given
// up after `seconds`.
struct RemoteReading {
    unsigned jobs = 16;
    unsigned seconds = 120;
};

// Reads the world (Windows: the console's registry); on a real network
// (VESKCFG_NETWORK=smb, or Windows) each primary the console's records name
// is read over the network too, with the account stored for it, never
// asking for one. False, with why, when it cannot be read: no such folder, or
// a console store that cannot be read or parsed.
bool readNetwork(const std::string& world, const std::string& console, NetworkView& view, std::string& why,
                 const RemoteReading& reading = {});

// The lists of the primaries the view's records name, read over the network
// into view.computers (remote_lists.cc). A primary whose reader did not
// answer in time, or ended without a whole answer, is unreachable, and says
// why.
void readRemoteLists(NetworkView& view, const RemoteReading& reading);

// One inconsistency, and the VeskCfg command that mends it.
struct Finding {
    std::string problem;
    std::string mend;
};
std::vector<Finding> audit(const NetworkView& view);

// Bytes as lower-case hex, two digits each: how names that any byte may be
// part of travel in text (JSON beside a lossy conversion, a pipe).
std::string hexOf(const std::string& bytes);

// A server's role as the console's store holds it: "primary", "distributed"
// (of record->primary), "unreadable" or "none".
std::string roleOf(const NetworkView& view, const std::string& server);

// A name as shell takes it back as one word (audit.cc).
std::string commandWord(const std::string& name, MendShell shell);

// Names as the platform compares them, without regard to case in the code
// page: the simulation's own on Linux, the runtime's _mbsupr on Windows.
std::string upperName(const std::string& name);
bool sameName(const std::string& left, const std::string& right);

}  // namespace vesknet
