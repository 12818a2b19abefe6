// The Linux program over Samba servers beside the table: names in the code
// page and in UTF-16, a list walked across a slow link, and a build without
// the smb module. Run beside scripts/smb-servers.sh, by the same executable
// as the table (their names hold LinuxOverSmb).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/backend_samba.h"

namespace {

// Names go to the server in UTF-16 from the ANSI code page and come back in
// it, '?' for each character the code page lacks; Samba's net, a peer that
// reads the UTF-16, sees each name as typed. S\xC9RVER (code page 1252) is
// another name of DIST (smb-servers.sh --alias).
TEST(BothBackends, LinuxOverSmbNames) {
    if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers (scripts/smb-servers.sh)";
    SmbBackend smb;
    const std::string server = "S\xC9RVER", serverUtf8 = "S\xC3\x89RVER", katakana = "\xE3\x82\xA2\xE3\x82\xA4";
    smb.setUp({{primary()}, std::vector<std::string>{katakana}});
    const std::string listed = "List all distributed servers for PRIM.\nPRIM is a primary.\n";
    struct {
        const char* codePage;
        const char* locale;  // of the console: the command line and the output
        std::vector<std::string> args;
        std::string keys, out;
        std::vector<std::string> listAfter;
    } runs[] = {
        {"1252", "C", {"md", "PRIM", server}, "dadmin\rdsecret\r",
         "Assigning " + server + " to PRIM.\n" + prompt(server) + "PRIM is a primary.\n      attached server: ??\n" + kOk,
         {serverUtf8, katakana}},
        {"932", "C", {"ld", "PRIM"}, "",
         listed + "      attached server: \x83\x41\x83\x43\n      attached server: S?RVER\n" + kOk, {serverUtf8, katakana}},
        {"932", "C.UTF-8", {"ld", "PRIM"}, "",
         listed + "      attached server: " + katakana + "\n      attached server: S?RVER\n" + kOk, {serverUtf8, katakana}},
        {"1252", "C", {"rd", "PRIM", server}, "", "Removing " + server + " from PRIM .\n" + kOk, {katakana}},
        // Typed in UTF-8, the name reaches the server as its peers read it.
        {"1252", "C.UTF-8", {"md", "PRIM", "s\xC3\xA9rver"}, "dadmin\rdsecret\r",
         "Assigning " + serverUtf8 + " to PRIM.\n" + prompt(serverUtf8) + "PRIM is a primary.\n      attached server: ??\n" + kOk,
         {serverUtf8, katakana}},
        {"1252", "C.UTF-8", {"ld", "PRIM"}, "",
         listed + "      attached server: ??\n      attached server: " + serverUtf8 + "\n" + kOk, {serverUtf8, katakana}},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(std::string(run.codePage) + " " + run.locale + " " + run.args[0]);
        RunOptions options;
        options.keys = {run.keys};
        options.environment = {{"VESKCFG_NETWORK", "smb"}, {"VESKCFG_CODEPAGE", run.codePage}, {"LC_ALL", run.locale}};
        RunResult result = runVeskCfg(VESKCFG_BINARY, run.args, options);
        EXPECT_EQ(result.out, run.out);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(smb.state().list, run.listAfter);
    }
}

// A list across a slow link (SLOW: 5 ms added to every round trip) is walked
// over several lanes at once; what the operations see does not change.
class SlowLink : public ::testing::Test {
protected:
    void SetUp() override {
        if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers (scripts/smb-servers.sh)";
        setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
        world.addComputer("CONSOLE", {});
        world.storeRecord("SLOW", "SLOW", "admin", "psecret", 0);
        for (int i = 0; i < 600; ++i) names.push_back("S" + std::to_string(1000 + i));
        ASSERT_TRUE(putSambaList("SLOW", names, world.root()));
    }
    RunResult ld() {
        RunOptions options;
        options.environment = {{"VESKCFG_NETWORK", "smb"}};
        return runVeskCfg(VESKCFG_BINARY, {"ld", "SLOW"}, options);
    }
    std::string listed(const std::vector<std::string>& entries) const {
        std::string out = "List all distributed servers for SLOW.\nSLOW is a primary.\n";
        for (const std::string& name : entries) out += "      attached server: " + name + "\n";
        return out + kOk;
    }
    TempWorld world;
    std::vector<std::string> names;
};

// How many pipes the last connection to SLOW opened, as its relay logs
// once the connection is over; -1 when it logged none.
int pipesOpened(const std::string& log) {
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(log);
        std::string line, last;
        while (std::getline(in, line)) last = line;
        size_t at = last.find(" requests, ");
        if (at != std::string::npos) return std::atoi(last.c_str() + at + 11);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// Many windows' worth of names: the bytes a walk of one request at a time
// gives, over lanes of their own (a pipe each, at most 16).
TEST_F(SlowLink, LinuxOverSmbWalksGiveTheSameBytes) {
    const std::string log = sambaLab() + "/SLOW/cut.log";
    std::ofstream(log, std::ios::trunc).close();
    RunResult run = ld();
    EXPECT_EQ(run.out, listed(names));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(world.read("CONSOLE/connections"), "");
    int pipes = pipesOpened(log);
    EXPECT_GT(pipes, 1) << "the walk did not spread";
    EXPECT_LE(pipes, 16);
}

// A step failed on purpose fails at its index, and the walk ends there, as
// over the world: the 50th step (index 49) shows an empty name, the last.
TEST_F(SlowLink, LinuxOverSmbFailuresLandAtTheirIndex) {
    world.addComputer("SLOW");
    world.write("SLOW/faults", "RegEnumValueA 1013 50\n");
    std::vector<std::string> expected(names.begin(), names.begin() + 50);
    expected[49] = "";
    RunResult run = ld();
    std::string shown = listed(expected);
    EXPECT_EQ(run.out, shown.substr(0, shown.size() - kOk.size()));
    EXPECT_EQ(run.status, 1013 & 0xFF);
}

// Values added and deleted by Samba's net while ld walks the key: the walk
// ends, without a crash or a hang, each line a name the key held at some
// moment (a name may be missed or repeat, as on Windows).
TEST_F(SlowLink, LinuxOverSmbAKeyChangedUnderTheWalk) {
    std::atomic<bool> walking = true;
    std::thread changer([&] {
        const std::string conf = sambaConf("SLOW");
        for (int i = 0; walking && i < 200; ++i) {
            std::string name = "NEW" + std::to_string(i);
            std::system(("net -s '" + conf + "' registry setvalue '" + kSambaListKey + "' " + name +
                         " sz '' >/dev/null 2>&1").c_str());
            std::system(("net -s '" + conf + "' registry deletevalue '" + kSambaListKey + "' S" +
                         std::to_string(1000 + i) + " >/dev/null 2>&1").c_str());
        }
    });
    RunResult run = ld();
    walking = false;
    changer.join();
    EXPECT_EQ(run.status, 0) << run.out;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "List all distributed servers for SLOW.");
    std::getline(lines, line);
    EXPECT_EQ(line, "SLOW is a primary.");
    int entries = 0;
    while (std::getline(lines, line) && line != "Transaction OK!") {
        EXPECT_TRUE(line.rfind("      attached server: S1", 0) == 0 || line.rfind("      attached server: NEW", 0) == 0)
            << line;
        ++entries;
    }
    EXPECT_EQ(line, "Transaction OK!");
    EXPECT_GT(entries, 300);
}

// A program with no smb module beside it (or built without one) says so on
// standard error and fails every call on another computer with 50; it never
// looks the name up.
TEST(BothBackends, LinuxWithoutTheSmbModule) {
    TempWorld world;
    world.storeRecord("DOWN", "DOWN", "admin", "psecret", 0);
    const std::string alone = world.root() + "/VeskCfg";
    std::filesystem::copy_file(VESKCFG_BINARY, alone);
    std::filesystem::permissions(alone, std::filesystem::perms::owner_all);
    RunOptions options;
    options.environment = {{"VESKCFG_NETWORK", "smb"}};
    RunResult result = runVeskCfg(alone.c_str(), {"lp", "DOWN"}, options);
    EXPECT_EQ(result.out, "List the primary of DOWN.\n" + error("The request is not supported.", "Failed During Transaction"));
    EXPECT_EQ(result.status, 50);
    EXPECT_NE(result.err.find("VESKCFG_NETWORK=smb: "), std::string::npos) << result.err;
    EXPECT_EQ(world.read("ALPHA/connections"), "");
}

}  // namespace
