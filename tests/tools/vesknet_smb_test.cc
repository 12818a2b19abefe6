// vesknet on a real network: the lists of Samba servers read over SMB with
// the accounts the console stores, the states a cut-short md or rd leaves
// found and mended with VeskCfg's own commands, an unreachable primary a
// finding of its own. Run beside scripts/smb-servers.sh --down DOWN
// PRIM=admin:psecret DIST=dadmin:dsecret, whose folder VESKCFG_SMB_LAB names.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stdlib.h>
#include <sys/stat.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/samba_lab.h"
#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"

namespace {

const std::string kCheckPrim = "PRIM lists DIST, which has no role record; mend: VeskCfg md PRIM DIST, then "
                               "VeskCfg rd PRIM DIST if it should be detached\n";

class VesknetOverSmb : public ::testing::Test {
protected:
    void SetUp() override {
        if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers";
        setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
        world.addComputer("CONSOLE", {});
        world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
        // Each server's account, for the commands that ask for it.
        world.write("askpass", "#!/bin/sh\ncase $1 in PRIM*Username*) echo admin ;; PRIM*) echo psecret ;;\n"
                               "*Username*) echo dadmin ;; *) echo dsecret ;; esac\n");
        chmod((world.root() + "/askpass").c_str(), 0700);
    }
    RunResult veskcfg(const std::vector<std::string>& args) {
        RunOptions options;
        options.terminal = false;
        options.environment = {{"VESKCFG_NETWORK", "smb"}, {"VESKCFG_ASKPASS", world.root() + "/askpass"}};
        return runVeskCfg(VESKCFG_BINARY, args, options);
    }
    RunResult vesknet(const std::vector<std::string>& args) {
        RunOptions options;
        options.terminal = false;
        options.environment = {{"VESKCFG_NETWORK", "smb"}};
        return runVeskCfg(VESKNET_BINARY, args, options);
    }
    // check's lines and its status; it leaves no connection of its own.
    std::pair<std::string, int> check() {
        std::string before = world.read("CONSOLE/connections");
        RunResult checked = vesknet({"check"});
        EXPECT_EQ(world.read("CONSOLE/connections"), before) << checked.out << checked.err << world.trace();
        return {checked.out, checked.status};
    }
    // The list show --json gives for server.
    std::vector<std::string> shownList(const std::string& server) {
        RunResult shown = vesknet({"show", "--json"});
        EXPECT_EQ(shown.status, 0) << shown.err;
        const nlohmann::json document = nlohmann::json::parse(shown.out);
        std::vector<std::string> listed;
        for (const auto& computer : document["computers"])
            if (computer["name"] == server) listed = computer["list"].get<std::vector<std::string>>();
        return listed;
    }
    // Runs the mends check names for what a cut-short change left, after
    // which the grouping is consistent.
    void mendWhatIsFound(int& withFindings, int& mendsRun);
    TempWorld world;
};

const std::pair<std::string, int> kConsistent = {"consistent: every record and every list agree.\n", 0};

// A grouping md made over SMB is consistent, and show --json holds the list
// Samba's own net reads on PRIM.
TEST_F(VesknetOverSmb, AGroupingMadeOverSmbIsConsistent) {
    ASSERT_TRUE(putSambaList("PRIM", std::vector<std::string>{}, world.root()));
    ASSERT_EQ(veskcfg({"md", "PRIM", "DIST"}).status, 0);
    EXPECT_EQ(check(), kConsistent);
    // --console names the console for the readers too, whatever VESKCFG_COMPUTERNAME says.
    RunOptions elsewhere;
    elsewhere.terminal = false;
    elsewhere.environment = {{"VESKCFG_NETWORK", "smb"}, {"VESKCFG_COMPUTERNAME", "ELSEWHERE"}};
    RunResult named = runVeskCfg(VESKNET_BINARY, {"--console", "CONSOLE", "check"}, elsewhere);
    EXPECT_EQ(std::make_pair(named.out, named.status), kConsistent) << named.err;
    std::vector<std::string> listed = shownList("PRIM");
    EXPECT_EQ(listed, sambaList("PRIM").value_or(std::vector<std::string>{"(no list)"}));
    EXPECT_EQ(listed, std::vector<std::string>{"DIST"});
}

// The names a reader sends back on its pipe are the server's, byte for
// byte: names whose bytes take every hex digit, high and low.
TEST_F(VesknetOverSmb, ShowReadsEveryByteOfANameAsNetDoes) {
    const std::vector<std::string> names = {"\xC2\xAB\xC3\x8D\xC3\xAF", "Z\xE2\x82\xAC\xC3\xBF", "09afAF", "\xC3\x80\xC2\xBA"};
    ASSERT_TRUE(putSambaList("PRIM", names, world.root()));
    std::vector<std::string> listed = shownList("PRIM");
    EXPECT_EQ(listed, sambaList("PRIM").value_or(std::vector<std::string>{"(no list)"}));
    EXPECT_EQ(listed.size(), names.size());
}

// What an md or an rd cut short between its two writes leaves: found, with
// a mend of VeskCfg's commands that makes the grouping consistent again.
TEST_F(VesknetOverSmb, WhatACutShortChangeLeavesIsFoundAndMended) {
    struct Row {
        const char* what;
        bool distRecord;          // DIST's record, naming PRIM
        bool listed;              // PRIM lists DIST
        std::string finding;
        std::vector<std::vector<std::string>> mend;
    };
    const Row rows[] = {
        {"md cut short: the record and no list entry", true, false,
         "DIST's record names PRIM, which does not list it; mend: VeskCfg frd PRIM DIST\n", {{"frd", "PRIM", "DIST"}}},
        {"rd cut short: the list entry and no record", false, true, kCheckPrim,
         {{"md", "PRIM", "DIST"}, {"rd", "PRIM", "DIST"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.distRecord) world.storeRecord("DIST", "PRIM", "dadmin", "dsecret", 1);
        ASSERT_TRUE(putSambaList("PRIM", row.listed ? std::vector<std::string>{"DIST"} : std::vector<std::string>{},
                                 world.root()));
        auto [found, status] = check();
        EXPECT_EQ(found, row.finding);
        EXPECT_EQ(status, 1);
        for (const auto& command : row.mend) {
            RunResult mended = veskcfg(command);
            EXPECT_EQ(mended.status, 0) << mended.out;
        }
        EXPECT_EQ(check(), kConsistent);
        EXPECT_EQ(world.storedRecordBytes("DIST"), "");
        EXPECT_EQ(sambaList("PRIM"), std::vector<std::string>{});
    }
}

// The commands each mend line names, in order: "VeskCfg A B, then VeskCfg
// C D if ..." gives {A, B} and {C, D}.
std::vector<std::vector<std::string>> mendsOf(const std::string& findings) {
    std::vector<std::vector<std::string>> commands;
    std::istringstream lines(findings);
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find("; mend: ");
        if (at == std::string::npos) continue;
        std::string mend = line.substr(at + 8);
        for (size_t start = 0; (start = mend.find("VeskCfg ", start)) != std::string::npos;) {
            size_t end = mend.find(", then ", start);
            std::istringstream words(mend.substr(start + 8, end == std::string::npos ? std::string::npos : end - start - 8));
            std::vector<std::string> command;
            for (std::string word; words >> word && word != "if";) command.push_back(word);
            commands.push_back(command);
            start = end == std::string::npos ? mend.size() : end;
        }
    }
    return commands;
}

void VesknetOverSmb::mendWhatIsFound(int& withFindings, int& mendsRun) {
    auto [found, status] = check();
    if (status == 1) {
        ++withFindings;
        for (const auto& mend : mendsOf(found)) {
            RunResult mended = veskcfg(mend);
            EXPECT_EQ(mended.status, 0) << mended.out;
            ++mendsRun;
        }
    } else {
        EXPECT_EQ(status, 0) << found;
    }
    EXPECT_EQ(check(), kConsistent) << found;
}

// Whether the relay cut the connection it logged last (the log is written
// as the connection closes, which may come just after the run ended).
bool wasCut(const std::string& log) {
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(log);
        std::string line, last;
        while (std::getline(in, line)) last = line;
        if (!last.empty()) return last.find(" cut") != std::string::npos;
        usleep(10000);
    }
    return false;
}

// Stopped (SIGSTOP, as VESKCFG_STOP_BEFORE_WRITE does), whether it is.
bool isStopped(pid_t process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'T';
}

// md and rd killed (SIGKILL, as a power loss) just before each write they
// make, on the console or on PRIM: check finds what each kill left, and the
// mends it names, run as they are written, make the grouping consistent.
TEST_F(VesknetOverSmb, KilledAtEveryWriteTheMendsMakeItWhole) {
    struct Command {
        std::vector<std::string> args;
        bool distRecord;
        std::vector<std::string> list;
    };
    const Command commands[] = {{{"md", "PRIM", "DIST"}, false, {}}, {{"rd", "PRIM", "DIST"}, true, {"DIST"}}};
    int killed = 0, withFindings = 0, mendsRun = 0;
    for (const Command& command : commands) {
        for (int write = 1;; ++write) {
            SCOPED_TRACE(command.args[0] + ", killed before write " + std::to_string(write));
            // The console as the command finds it, no connection open.
            world.write("CONSOLE/hklm.reg", "");
            world.write("CONSOLE/connections", "");
            world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
            if (command.distRecord) world.storeRecord("DIST", "PRIM", "dadmin", "dsecret", 1);
            ASSERT_TRUE(putSambaList("PRIM", command.list, world.root()));
            RunOptions options;
            options.terminal = false;
            options.environment = {{"VESKCFG_NETWORK", "smb"}, {"VESKCFG_ASKPASS", world.root() + "/askpass"},
                                   {"VESKCFG_STOP_BEFORE_WRITE", std::to_string(write)}};
            bool stopped = false;
            std::thread killer;
            options.afterTyping = [&](pid_t child, int) {
                killer = std::thread([&, child] {
                    for (int i = 0; i < 10000; ++i) {
                        if (isStopped(child)) {
                            stopped = true;
                            kill(child, SIGKILL);
                            return;
                        }
                        if (kill(child, 0) != 0) return;
                        usleep(1000);
                    }
                });
            };
            RunResult run = runVeskCfg(VESKCFG_BINARY, command.args, options);
            if (killer.joinable()) killer.join();
            if (!stopped) {
                EXPECT_EQ(run.status, 0) << run.out;  // every write was made: the run ended by itself
                break;
            }
            ++killed;
            mendWhatIsFound(withFindings, mendsRun);
        }
    }
    std::printf("%d runs killed before a write, %d leaving findings, %d mends run, each consistent afterwards\n",
                killed, withFindings, mendsRun);
    EXPECT_GE(killed, 8);
}

// The grouping as the tests compare it: who has a record, what PRIM lists.
struct Grouping {
    bool primRecord, distRecord;
    std::optional<std::vector<std::string>> list;
    bool operator==(const Grouping&) const = default;
};

// Every command that changes a grouping, its connection to PRIM or to DIST
// cut by the relay before or after each request it makes: the run ends
// within seconds, with the code of a lost session (64) or, when the cut came
// after the change was made, "Transaction OK!" and the change made; check
// then finds what a run left half made, and the mends it names, run as
// written, make the grouping consistent.
TEST_F(VesknetOverSmb, CutAtEveryRequestTheMendsMakeItWhole) {
    struct Command {
        std::vector<std::string> args;
        Grouping before, after;
    };
    const std::vector<std::string> none, dist = {"DIST"};
    const Command commands[] = {
        {{"mp", "PRIM"}, {false, false, std::nullopt}, {true, false, std::nullopt}},
        {{"md", "PRIM", "DIST"}, {true, false, none}, {true, true, dist}},
        {{"rd", "PRIM", "DIST"}, {true, true, dist}, {true, false, none}},
        {{"rp", "PRIM"}, {true, false, none}, {false, false, none}},
        {{"frd", "PRIM", "DIST"}, {true, true, none}, {true, false, none}},
    };
    auto put = [&](const Grouping& grouping) {
        world.write("CONSOLE/hklm.reg", "");
        world.write("CONSOLE/connections", "");
        if (grouping.primRecord) world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
        if (grouping.distRecord) world.storeRecord("DIST", "PRIM", "dadmin", "dsecret", 1);
        ASSERT_TRUE(putSambaList("PRIM", grouping.list, world.root()));
    };
    auto now = [&] {
        return Grouping{!world.storedRecordBytes("PRIM").empty(), !world.storedRecordBytes("DIST").empty(),
                        sambaList("PRIM")};
    };
    int cuts = 0, withFindings = 0, mendsRun = 0, said = 0;
    std::string perCommand;
    for (const Command& command : commands) {
        const int cutsBefore = cuts;
        for (const char* server : {"PRIM", "DIST"}) {
            for (const char* when : {"before", "after"}) {
                for (int request = 1;; ++request) {
                    SCOPED_TRACE(command.args[0] + ", " + server + " cut " + when + " request " + std::to_string(request));
                    put(command.before);
                    const std::string cutFile = sambaLab() + "/" + server + "/cut";
                    std::ofstream(cutFile + ".log", std::ios::trunc).close();
                    std::ofstream(cutFile) << when << " " << request << "\n";
                    auto started = std::chrono::steady_clock::now();
                    RunResult run = veskcfg(command.args);
                    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
                    std::ofstream(cutFile, std::ios::trunc).close();
                    if (!wasCut(cutFile + ".log")) {
                        EXPECT_EQ(run.status, 0) << run.out;
                        break;
                    }
                    ++cuts;
                    if (run.out.find("Transaction OK!") != std::string::npos) {
                        EXPECT_EQ(run.status, 0);
                        EXPECT_TRUE(now() == command.after) << "Transaction OK! for a change not made\n" << run.out;
                        ++said;
                    } else if (run.out.find("can not be removed") != std::string::npos) {
                        EXPECT_EQ(run.status, 5) << "rp refuses a list it could not walk";
                    } else {
                        EXPECT_EQ(run.status, 64) << run.out;
                    }
                    mendWhatIsFound(withFindings, mendsRun);
                }
            }
        }
        perCommand += (perCommand.empty() ? "" : ", ") + command.args[0] + " " + std::to_string(cuts - cutsBefore);
    }
    std::printf("%d runs cut (%s), %d of them after the change was made (Transaction OK!), %d leaving findings, %d "
                "mends run, each consistent afterwards\n",
                cuts, perCommand.c_str(), said, withFindings, mendsRun);
    EXPECT_GE(cuts, 100);
}

// The process of vesknet's that reads server (a child of vesknet whose
// connection to it is open), or 0.
pid_t readerOf(pid_t vesknet) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        char state;
        long parent = 0;
        if (rest >> state >> parent && parent == vesknet) return static_cast<pid_t>(std::stol(pid));
    }
    return 0;
}

// A primary that keeps its reader waiting, walks a list without end, or
// whose reader dies or answers with a fault is a finding, never a list, and
// the reading ends in its time. A dead reader's connection is cancelled, and
// the console's own, made before vesknet ran, kept.
TEST_F(VesknetOverSmb, AReaderGivenUpOrDeadIsAFinding) {
    if (!std::filesystem::exists(sambaLab() + "/ODD")) GTEST_SKIP() << "no ODD in the lab (smb-servers.sh --odd ODD=...)";
    world.storeRecord("ODD", "ODD", "admin", "psecret", 0);
    const std::string mend = "; mend: check again once ODD can be reached with the account stored for it (VeskCfg lp ODD "
                             "shows why it cannot)\n";
    struct {
        const char* what;
        std::string behaviour;
        bool killReader;
        std::string finding;
        std::string connections;  // the console's, before and after
    } rows[] = {
        {"a server that keeps it waiting", R"({"list": ["A", "B"], "stallAtIndex": [1, 30]})", false,
         "ODD: 1460 This operation returned because the timeout period expired." + mend, ""},
        {"a list without end", R"({"list": [], "endless": true})", false,
         "ODD: 1460 This operation returned because the timeout period expired." + mend, ""},
        {"a reader that dies", R"({"list": ["A"], "stallAtIndex": [0, 30]})", true,
         "ODD: its reader ended with signal 9 before it had answered" + mend, ""},
        {"a reader that dies, the console connected before", R"({"list": ["A"], "stallAtIndex": [0, 30]})", true,
         "ODD: its reader ended with signal 9 before it had answered" + mend, "\\\\ODD\\ipc$ admin\n"},
        {"a fault Samba maps to 0", R"({"list": ["A", "B"], "enumFault": [1, 65536]})", false,
         "ODD: 1726 The remote procedure call failed." + mend, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::ofstream(sambaLab() + "/ODD/behaviour") << row.behaviour;
        world.write("CONSOLE/connections", row.connections);
        RunOptions options;
        options.terminal = false;
        options.environment = {{"VESKCFG_NETWORK", "smb"}};
        std::thread killer;
        if (row.killReader) {
            options.afterTyping = [&](pid_t child, int) {
                killer = std::thread([child] {
                    for (int i = 0; i < 500; ++i, usleep(10000))
                        if (pid_t reader = readerOf(child)) {
                            usleep(300000);  // in its walk
                            kill(reader, SIGKILL);
                            return;
                        }
                });
            };
        }
        auto started = std::chrono::steady_clock::now();
        RunResult checked = runVeskCfg(VESKNET_BINARY, {"--timeout", "3", "check"}, options);
        if (killer.joinable()) killer.join();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(checked.out, row.finding);
        EXPECT_EQ(checked.err, "") << "progress is for a terminal only";
        EXPECT_EQ(checked.status, 1);
        EXPECT_EQ(world.read("CONSOLE/connections"), row.connections) << "a reader's connection left behind, or the console's cancelled";
    }
}

// A primary that cannot be reached is a finding of its own, with the code
// and its text; what its servers' records say is not held against them.
TEST_F(VesknetOverSmb, AnUnreachablePrimaryIsAFindingOfItsOwn) {
    world.storeRecord("DOWN", "DOWN", "admin", "psecret", 0);
    world.storeRecord("DIST", "DOWN", "dadmin", "dsecret", 1);
    auto [found, status] = check();
    EXPECT_EQ(found, "DOWN: 53 The network path was not found.; mend: check again once DOWN can be reached with the "
                     "account stored for it (VeskCfg lp DOWN shows why it cannot)\n");
    EXPECT_EQ(status, 1);
    // Started with SIGCHLD ignored, its readers reaped by the kernel: the same, and no wait for ever.
    RunOptions options;
    options.terminal = false;
    options.childSignalsIgnored = true;
    options.environment = {{"VESKCFG_NETWORK", "smb"}};
    RunResult reaped = runVeskCfg(VESKNET_BINARY, {"check"}, options);
    EXPECT_EQ(reaped.out, found);
    EXPECT_EQ(reaped.status, 1);
}

}  // namespace
