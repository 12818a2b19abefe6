// vesknet.exe under Wine, over the registry VeskCfg.exe writes and the test
// network provider: what check finds after VeskCfg.exe and after Wine's own
// reg.exe, its mends run by cmd.exe as they are written, an unreachable
// primary, and show --json and graph as the Linux program gives them for the
// same records and list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/backend_wine.h"

namespace {

const std::string kConsistent = "consistent: every record and every list agree.\r\n";
const std::string kList = "HKLM\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers";

class VesknetUnderWine : public ::testing::Test {
protected:
    void SetUp() override {
        const char* program = std::getenv("VESKCFG_WINDOWS_PROGRAM");
        if (!program || !*program) GTEST_SKIP() << "VESKCFG_WINDOWS_PROGRAM names no Windows build";
        program_ = program;
        windows_ = std::make_unique<WineBackend>(program_);
        primary_ = windows_->primary();
    }
    RunResult vesknet(const std::vector<std::string>& args) {
        std::vector<std::string> wineArgs = {program_ + "/vesknet.exe"};
        wineArgs.insert(wineArgs.end(), args.begin(), args.end());
        RunOptions options;
        options.terminal = false;
        return runUnderWine(wineArgs, options);
    }
    // Each command of each mend line, run by cmd.exe as the line writes it.
    void runMends(const std::string& findings, const std::vector<std::string>& keys) {
        for (size_t at = 0; (at = findings.find("; mend: ", at)) != std::string::npos;) {
            std::string mend = findings.substr(at + 8, findings.find("\r\n", at) - at - 8);
            at += 8;
            for (size_t start = 0; start < mend.size();) {
                size_t end = mend.find(", then ", start);
                std::string command = mend.substr(start, end == std::string::npos ? std::string::npos : end - start);
                command = command.substr(0, command.find(" if it should"));
                std::string hex;
                for (unsigned char c : command) {
                    char pair[3];
                    std::snprintf(pair, sizeof pair, "%02x", c);
                    hex += pair;
                }
                RunOptions options;
                options.keys = keys;
                options.inputOnTerminal = true;
                RunResult run = runUnderWine({program_ + "/run_line.exe", hex}, options);
                EXPECT_EQ(run.status, 0) << command << "\n" << run.out << run.err;
                start = end == std::string::npos ? mend.size() : end + 7;
            }
        }
    }
    std::string program_, primary_;
    std::unique_ptr<WineBackend> windows_;
};

// md, then check; a list changed behind VeskCfg.exe's back with reg.exe is
// found, and its mend makes it whole; so is a record too large to read
// (which frd will not delete) of servers whose names cmd.exe would take
// otherwise than as they are.
TEST_F(VesknetUnderWine, ChecksWhatVeskCfgAndRegLeaveAndItsMendsRunInCmd) {
    windows_->setUp({{primary()}});
    ASSERT_EQ(windows_->run({"md", primary_, "DIST"}, {"dadmin\rdsecret\r"}).status, 0);
    RunResult checked = vesknet({"check"});
    EXPECT_EQ(checked.out, kConsistent) << checked.err;
    EXPECT_EQ(checked.status, 0);

    struct Row {
        std::vector<std::string> reg;  // what Wine's reg.exe does behind VeskCfg's back
        std::string found;             // check's line, {P} the primary
        std::vector<std::string> keys;  // typed at the mends' prompts
    };
    const std::string unreadable(160, 'a');  // 80 bytes, more than a record holds
    const Row rows[] = {
        {{"delete", kList, "/v", "DIST", "/f"}, "DIST's record names {P}, which does not list it; mend: VeskCfg frd {P} DIST\r\n", {}},
        {{"add", kList, "/v", "OTHER", "/t", "REG_SZ", "/f"},
         "{P} lists OTHER, which has no role record; mend: VeskCfg md {P} OTHER, then VeskCfg rd {P} OTHER if it "
         "should be detached\r\n",
         {"oadmin\rosecret\r"}},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    // Names cmd.exe reads otherwise (a command's end, a group, a blank, a
    // redirection, a quote), and each as its mend writes it. (A variable's
    // %, which Windows' cmd leaves alone once a caret breaks the name, Wine's
    // cmd expands all the same.)
    const std::pair<std::string, std::string> names[] = {
        {"A&B", "A^&B"}, {"R(1) S", "R^(1^)^ S"}, {"X^Y|Z<W>", "X^^Y^|Z^<W^>"}, {"Q\"T", "Q\\^\"T"}};
    for (const auto& [name, written] : names) {
        all.push_back({{"add", "HKLM\\SOFTWARE\\Tallmere\\Servers\\" + name + "\\Vesklane", "/v", "Slot_1", "/t", "REG_BINARY",
                        "/d", unreadable, "/f"},
                       name + "'s role record cannot be read; mend: reg delete ^\"HKLM\\SOFTWARE\\Tallmere\\Servers\\" +
                           written + "\\Vesklane^\" /v Slot_1 /f\r\n",
                       {}});
    }
    for (const Row& row : all) {
        SCOPED_TRACE(row.found);
        std::vector<std::string> reg = {"reg"};
        reg.insert(reg.end(), row.reg.begin(), row.reg.end());
        wine(reg);
        checked = vesknet({"check"});
        EXPECT_EQ(checked.out, replaced(row.found, "{P}", primary_));
        EXPECT_EQ(checked.status, 1);
        runMends(checked.out, row.keys);
        EXPECT_EQ(vesknet({"check"}).out, kConsistent);
    }
}

// A primary that cannot be reached, or whose registry cannot (Wine reaches
// no other computer's), is a finding of its own, and the connection its
// reader made is cancelled.
TEST_F(VesknetUnderWine, AnUnreachablePrimaryIsAFindingOfItsOwn) {
    windows_->setUp({{{"DOWN", "DOWN", "admin", "psecret", 0}, {"OTHER", "OTHER", "oadmin", "osecret", 0}}});
    RunResult checked = vesknet({"check"});
    EXPECT_EQ(checked.out,
              "DOWN: 53 Bad network path.; mend: check again once DOWN can be reached with the account stored for it "
              "(VeskCfg lp DOWN shows why it cannot)\r\n"
              "OTHER: 53 Bad network path.; mend: check again once OTHER can be reached with the account stored for it "
              "(VeskCfg lp OTHER shows why it cannot)\r\n");
    EXPECT_EQ(checked.status, 1);
    EXPECT_EQ(windows_->state().connections, "");
}

// show --json and graph give what the Linux program gives over a world that
// holds the same records and list (the world's path aside, which Windows
// has not); the commands of the simulated network say where they belong.
TEST_F(VesknetUnderWine, ShowsAndDrawsAsTheLinuxProgramDoes) {
    const ::Setup setup = {{primary(), dist(), {"OTHER", "{P}", "oadmin", "osecret", 1}},
                         std::vector<std::string>{"DIST", "GONE"}};
    windows_->setUp(setup);
    TempWorld world;
    std::filesystem::remove_all(world.root() + "/ALPHA");  // the console is Wine's computer alone
    setenv("VESKCFG_COMPUTERNAME", primary_.c_str(), 1);    // the store written is its
    world.addComputer(primary_);
    for (const Record& record : setup.records) {
        Record filled = windows_->expand(record);
        world.storeRecord(filled.server, filled.primary, filled.user, filled.password, filled.isDistributed);
    }
    world.write(primary_ + "/hklm.reg", world.read(primary_ + "/hklm.reg") +
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n"
                                            "\"DIST\"=hex(1):\n\"GONE\"=hex(1):\n\n");
    auto onLinux = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--world", world.root(), "--console", primary_});
        RunOptions options;
        options.terminal = false;
        return runVeskCfg(VESKNET_BINARY, args, options);
    };
    RunResult shown = vesknet({"show", "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    RunResult linuxShown = onLinux({"show", "--json"});
    ASSERT_EQ(linuxShown.status, 0) << linuxShown.err;
    nlohmann::json expected = nlohmann::json::parse(linuxShown.out);
    expected.erase("world");
    EXPECT_EQ(nlohmann::json::parse(shown.out), expected);
    EXPECT_EQ(replaced(vesknet({"graph"}).out, "\r\n", "\n"), onLinux({"graph"}).out);

    RunResult refused = vesknet({"init"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "vesknet: init belongs to the Linux build's simulated network; vesknet.exe shows, checks "
                           "and draws the real one (show, check, graph)\r\n");
}

}  // namespace
