// Every failure of every call a changing command makes on the two servers
// it reaches, over real Samba servers as over the world: the same calls
// counted, and for each failure the same output, the same exit status and
// the same records, list and connections left. Samba's own net reads the
// primary's list. Run beside scripts/smb-servers.sh PRIM=admin:psecret
// DIST=dadmin:dsecret, whose folder VESKCFG_SMB_LAB names.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/samba_lab.h"
#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"

namespace {

struct Form {
    std::vector<std::string> args;
    std::vector<std::string> keys;
    std::vector<std::vector<std::string>> records;    // server, primary, user, password, isDistributed
    std::optional<std::vector<std::string>> list;     // PRIM's
};

const std::vector<std::string> kPrim = {"PRIM", "PRIM", "admin", "psecret", "0"};
const std::vector<std::string> kDist = {"DIST", "PRIM", "dadmin", "dsecret", "1"};

// Each changing command on ALPHA, the console, reaching PRIM and DIST.
const Form kForms[] = {
    {{"mp", "PRIM"}, {"admin\rpsecret\r"}, {}, std::nullopt},
    {{"md", "PRIM", "DIST"}, {"dadmin\rdsecret\r"}, {kPrim}, std::vector<std::string>{"OLD"}},
    {{"rd", "PRIM", "DIST"}, {}, {kPrim, kDist}, std::vector<std::string>{"DIST", "OLD"}},
    {{"rp", "PRIM"}, {}, {kPrim}, std::vector<std::string>{}},
    {{"frd", "DIST"}, {}, {kDist}, std::nullopt},
    {{"frd", "PRIM", "DIST"}, {}, {kPrim, kDist}, std::vector<std::string>{"OLD"}},
};

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// What a run leaves: the console's records, PRIM's list, the connections.
struct State {
    std::string records;
    std::optional<std::vector<std::string>> list;
    std::string connections;
    bool operator==(const State&) const = default;
};

std::ostream& operator<<(std::ostream& out, const State& state) {
    out << state.records << (state.list ? "list: " + joined(*state.list) : "no list");
    return out << "\nconnections: " << state.connections;
}

// PRIM's list in a world hive, in its order.
std::optional<std::vector<std::string>> worldList(const TempWorld& world) {
    std::string hive = world.read("PRIM/hklm.reg");
    size_t key = hive.find("\\VeskDistributedServers]\n");
    if (key == std::string::npos) return std::nullopt;
    std::vector<std::string> names;
    std::istringstream lines(hive.substr(key + 25));
    for (std::string line; std::getline(lines, line) && !line.empty() && line[0] == '"';)
        names.push_back(line.substr(1, line.find('"', 1) - 1));
    return names;
}

class Network {
public:
    explicit Network(bool smb) : smb_(smb) {}
    virtual ~Network() = default;

    // A fresh console with the form's records, and PRIM's list.
    void setUp(const Form& form) {
        world_.emplace();
        for (const auto& record : form.records)
            world_->storeRecord(record[0], record[1], record[2], record[3], std::stoi(record[4]));
        if (smb_) {
            ASSERT_TRUE(putSambaList("PRIM", form.list, world_->root()));
            return;
        }
        world_->addComputer("PRIM", {"admin:psecret"});
        world_->addComputer("DIST", {"dadmin:dsecret"});
        if (!form.list) return;
        std::string hive = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n";
        for (const std::string& name : *form.list) hive += "\"" + name + "\"=hex(1):\n";
        world_->write("PRIM/hklm.reg", hive + "\n");
    }

    // A real server's folder holds nothing but its faults file.
    void fail(const std::string& computer, const std::string& line) {
        world_->addComputer(computer);
        world_->write(computer + "/faults", line + "\n");
    }

    RunResult run(const Form& form, bool countCalls) {
        RunOptions options;
        options.keys = form.keys;
        // A failed lookup of stored credentials asks for them: Esc.
        options.keys.insert(options.keys.end(), {"\x1b", "\x1b"});
        if (smb_) options.environment.push_back({"VESKCFG_NETWORK", "smb"});
        if (countCalls) options.environment.push_back({"VESKCFG_CALLS", world_->root() + "/calls"});
        return runVeskCfg(VESKCFG_BINARY, form.args, options);
    }

    // The calls made on PRIM and DIST, with their counts.
    std::map<std::pair<std::string, std::string>, int> calls() const {
        std::map<std::pair<std::string, std::string>, int> counted;
        std::istringstream lines(world_->read("calls"));
        std::string computer, call;
        int count = 0;
        while (lines >> computer >> call >> count)
            if (computer == "PRIM" || computer == "DIST") counted[{computer, call}] = count;
        return counted;
    }

    State state() const {
        State state;
        for (const char* server : {"PRIM", "DIST", "OLD"}) {
            std::string bytes = world_->storedRecordBytes(server);
            if (bytes.empty()) continue;
            char hex[3];
            state.records += std::string(server) + " ";
            for (unsigned char byte : bytes) state.records += (std::snprintf(hex, sizeof hex, "%02x", byte), hex);
            state.records += "\n";
        }
        state.list = smb_ ? sambaList("PRIM") : worldList(*world_);
        state.connections = world_->read("ALPHA/connections");
        return state;
    }

private:
    bool smb_;
    std::optional<TempWorld> world_;
};

TEST(WholeOrAbsent, EveryFailureOfEveryCallOverSamba) {
    if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers (scripts/smb-servers.sh)";
    Network world(false), smb(true);
    int runs = 0, failures = 0;
    std::string sizes;
    std::set<std::string> swept;
    for (const Form& form : kForms) {
        SCOPED_TRACE(joined(form.args));
        world.setUp(form);
        ASSERT_EQ(world.run(form, true).status, 0);
        smb.setUp(form);
        RunResult clean = smb.run(form, true);
        ASSERT_EQ(clean.status, 0) << clean.out;
        // The seam counts a real server's calls as it counts a world computer's.
        const auto calls = world.calls();
        ASSERT_EQ(smb.calls(), calls);
        EXPECT_EQ(smb.state(), world.state());
        int callsMade = 0;
        for (const auto& [where, count] : calls) callsMade += count;
        sizes += "  " + joined(form.args) + ": " + std::to_string(calls.size()) + " calls, " +
                 std::to_string(callsMade) + " made\n";
        for (const auto& [where, count] : calls) {
            const auto& [computer, call] = where;
            swept.insert(call);
            for (int nth = 1; nth <= count; ++nth) {
                const std::string fault = call + " 1013 " + std::to_string(nth);
                SCOPED_TRACE(computer + " " + fault);
                world.setUp(form);
                world.fail(computer, fault);
                RunResult expected = world.run(form, false);
                smb.setUp(form);
                smb.fail(computer, fault);
                RunResult got = smb.run(form, false);
                EXPECT_EQ(got.out, expected.out);
                EXPECT_EQ(got.status, expected.status);
                EXPECT_EQ(smb.state(), world.state());
                ++runs;
                failures += expected.status != 0;
            }
        }
    }
    std::printf("%s%d runs over Samba, each failing one call (%d of them failing the command), each beside the "
                "world's\n", sizes.c_str(), runs, failures);
    EXPECT_GE(runs, 30);
    // Every call the commands make on a server was counted, and so failed.
    const std::set<std::string> everyCall = {"WNetAddConnection2A", "WNetCancelConnection2A", "RegConnectRegistryA",
                                             "RegOpenKeyExA", "RegCreateKeyExA", "RegSetValueExA",
                                             "RegDeleteValueA", "RegEnumValueA", "RegCloseKey"};
    EXPECT_EQ(swept, everyCall);
}

}  // namespace
