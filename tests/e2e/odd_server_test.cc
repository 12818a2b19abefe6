// A server that answers wrongly: statuses no table maps, names no registry
// should hold, a handle it never gave, a connection it closes mid-walk.
// Each row ends by itself within its time with a code and the lines that go
// with it, never "Transaction OK!" after a failure. Run beside
// scripts/smb-servers.sh --odd ODD=admin:psecret --alias DIST=ODD, whose
// folder VESKCFG_SMB_LAB names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/samba_lab.h"
#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"

namespace {

const std::string kOk = "Transaction OK!\n";
const std::string kCallFailed = "The remote procedure call failed.";
const std::string kListed = "List all distributed servers for ODD.\nODD is a primary.\n";

std::string error(const std::string& text, const std::string& context) {
    return "ERROR! " + text + "\r\n" + context + ".\n";
}

std::string attached(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += "      attached server: " + name + "\n";
    return out;
}

class OddServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab (scripts/smb-servers.sh --odd ODD=...)";
        setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
        world.addComputer("CONSOLE", {});
        world.write("askpass", "#!/bin/sh\ncase $1 in *Username*) echo admin ;; *) echo psecret ;; esac\n");
        chmod((world.root() + "/askpass").c_str(), 0700);
    }
    // Runs VeskCfg against ODD told to behave so; a run past 20 s is a hang.
    RunResult run(const std::string& behaviour, const std::vector<std::string>& args, RunOptions options = {}) {
        world.storeRecord("ODD", "ODD", "admin", "psecret", 0);
        std::ofstream(sambaLab() + "/ODD/behaviour") << behaviour;
        options.terminal = false;
        options.limitSeconds = 20;
        options.environment.insert(options.environment.begin(),
                                   {{"VESKCFG_NETWORK", "smb"}, {"VESKCFG_ASKPASS", world.root() + "/askpass"}});
        auto started = std::chrono::steady_clock::now();
        RunResult result = runVeskCfg(VESKCFG_BINARY, args, options);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << "a run held past its limits";
        EXPECT_EQ(world.read("CONSOLE/connections"), "") << "a connection left open";
        return result;
    }
    TempWorld world;
};

TEST_F(OddServer, EveryWrongAnswerIsACodeNeverSuccess) {
    const std::string longest(256, 'N');
    struct Row {
        const char* what;
        std::string behaviour;
        std::vector<std::string> args;
        std::string out;
        int status;
    } rows[] = {
        {"a fault Samba maps to 0", R"({"list": ["A", "B"], "enumFault": [1, 65536]})", {"ld", "ODD"},
         kListed + attached({"A", ""}), 1726 & 0xFF},
        {"a fault of the RPC runtime", R"({"list": ["A"], "enumFault": [0, 469827586]})", {"ld", "ODD"},
         kListed + attached({""}), 1745 & 0xFF},
        {"a logon answered with an unmapped status", R"({"list": [], "logonStatus": 3237937152})", {"ld", "ODD"},
         "List all distributed servers for ODD.\n" + error(kCallFailed, "Failed During Transaction"), 1726 & 0xFF},
        {"HKEY_LOCAL_MACHINE refused with an unmapped fault", R"({"list": [], "machineFault": 65536})",
         {"ld", "ODD"}, kListed + "             No attached servers\n", 1726 & 0xFF},
        {"names with C0 and C1 controls", R"({"list": ["A\u001b[2JB", "\u009b31m", "\u0081x", "\u0007"]})",
         {"ld", "ODD"}, kListed + attached({"A\x1b[2JB", "?31m", "\x81x", "\x07"}) + kOk, 0},
        {"a name of a lone surrogate", R"({"list": ["\ud800y", "Z"]})", {"ld", "ODD"}, kListed + attached({""}), 87},
        {"a name of 256 characters", R"({"list": [")" + longest + R"("]})", {"ld", "ODD"},
         kListed + attached({longest}) + kOk, 0},
        {"a name of 20,000 characters", R"({"list": [")" + std::string(20000, 'N') + R"(", "Z"]})", {"ld", "ODD"},
         kListed + attached({""}), 234},
        {"success with a handle it never gave", R"({"list": ["A"], "foreignHandle": true})", {"ld", "ODD"},
         kListed + attached({""}), 6},
        {"the connection closed mid-walk", R"({"list": ["A", "B", "C"], "dropAtIndex": 1})", {"ld", "ODD"},
         kListed + attached({"A", ""}), 64},
        {"md when SetValue gets an unmapped fault", R"({"list": ["A"], "setFault": 65536})", {"md", "ODD", "DIST"},
         "Assigning DIST to ODD.\n Press <Esc> to quit \nDIST : Username = DIST : Password = ODD is a primary.\n" +
             attached({"A"}) + error(kCallFailed, "Fail During Transaction") +
             error(kCallFailed, "Fail During Transaction"),
         1726 & 0xFF},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        world.write("CONSOLE/hklm.reg", "");
        RunResult result = run(row.behaviour, row.args);
        EXPECT_EQ(result.out, row.out) << result.err;
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(world.storedRecordBytes("DIST"), "") << "a record left behind by a failed md";
    }
}

// Names of C0 and C1 controls on a terminal, in the C locale and in UTF-8:
// nothing reaches it that drives it.
TEST_F(OddServer, NoNameDrivesTheTerminal) {
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        RunOptions options;
        options.outputOnTerminal = true;
        options.environment = {{"LC_ALL", locale}};
        RunResult result = run(R"({"list": ["A\u001b[2JB", "\u009b31m", "\u0081x", "\u0007", "\u009d"]})", {"ld", "ODD"}, options);
        EXPECT_EQ(result.status, 0);
        EXPECT_FALSE(drivesTerminal(result.echo)) << result.echo;
    }
}

// rd whose DeleteValue gets a fault Samba maps to 0: DIST's record is
// written back, and nothing says the change was made.
TEST_F(OddServer, AFailedUnlinkPutsTheRecordBack) {
    world.storeRecord("DIST", "ODD", "admin", "psecret", 1);
    std::string before = world.storedRecordBytes("DIST");
    RunResult result = run(R"({"list": ["DIST"], "deleteFault": 65536})", {"rd", "ODD", "DIST"});
    EXPECT_EQ(result.out, "Removing DIST from ODD .\n" + error(kCallFailed, "Fail During Transaction") +
                              error(kCallFailed, "Fail During Transaction") + "Check ODD: could not find DIST in list of attached servers\n"
                              " Use frs command if you still want to remove\n");
    EXPECT_EQ(result.status, 1726 & 0xFF);
    EXPECT_EQ(world.storedRecordBytes("DIST"), before);
}

}  // namespace
