// A change is whole or absent: whichever call fails, whenever an interrupt
// comes, however many runs start at once from one console.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"
#include "tools/vesknet/network_view.h"

namespace {

RunResult run(const std::vector<std::string>& arguments, const RunOptions& options = {}) {
    return runVeskCfg(VESKCFG_BINARY, arguments, options);
}

// The inconsistencies the audit finds, one a line.
std::string findings(const TempWorld& world) {
    vesknet::NetworkView view;
    std::string why;
    if (!vesknet::readNetwork(world.root(), "ALPHA", view, why)) return why;
    std::string all;
    for (const vesknet::Finding& finding : vesknet::audit(view)) all += finding.problem + "\n";
    return all;
}

std::string listHive(const std::vector<std::string>& names) {
    std::string hive = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n";
    for (const std::string& name : names) hive += "\"" + name + "\"=hex(1):\n";
    return hive + "\n";
}

struct Form {
    std::vector<std::string> args;
    std::vector<std::string> keys;
};

// PRIM a primary listing DIST and OLD, both attached; PRIM2 a primary with
// nothing attached; NEW and P3 servers without a role. For frd, PRIM lists
// OLD only, as after an rd that could not find DIST in it.
void smallNetwork(TempWorld& world, const Form& form) {
    world.addComputer("PRIM", {"admin:psecret", "newadmin:n3w"});
    world.addComputer("PRIM2", {"admin:psecret"});
    for (const char* server : {"DIST", "OLD", "NEW", "P3"}) world.addComputer(server, {"dadmin:dsecret"});
    world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
    world.storeRecord("PRIM2", "PRIM2", "admin", "psecret", 0);
    world.storeRecord("DIST", "PRIM", "dadmin", "dsecret", 1);
    world.storeRecord("OLD", "PRIM", "dadmin", "dsecret", 1);
    world.write("PRIM/hklm.reg", form.args[0] == "frd" ? listHive({"OLD"}) : listHive({"DIST", "OLD"}));
}

// Every command form, each of which succeeds on the small network.
const Form kForms[] = {
    {{"mp", "P3"}, {"dadmin\rdsecret\r"}},
    {{"md", "PRIM", "NEW"}, {"dadmin\rdsecret\r"}},
    {{"rd", "PRIM", "DIST"}, {}},
    {{"frd", "DIST"}, {}},
    {{"frd", "PRIM", "DIST"}, {}},
    {{"rp", "PRIM2"}, {}},
    {{"ld", "PRIM"}, {}},
    {{"lp", "DIST"}, {}},
    {{"cc", "PRIM"}, {"newadmin\rn3w\r"}},
};

std::string joined(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
    return text;
}

// The calls a clean run of the form makes: computer and call, with their counts.
std::map<std::pair<std::string, std::string>, int> callsOf(const Form& form) {
    TempWorld world;
    smallNetwork(world, form);
    RunOptions options;
    options.keys = form.keys;
    options.environment = {{"VESKCFG_CALLS", world.root() + "/calls"}};
    RunResult clean = run(form.args, options);
    EXPECT_EQ(clean.status, 0) << joined(form.args) << "\n" << clean.out;
    std::map<std::pair<std::string, std::string>, int> calls;
    std::istringstream lines(world.read("calls"));
    std::string computer, call;
    int count = 0;
    while (lines >> computer >> call >> count) calls[{computer, call}] = count;
    return calls;
}

// The calls the sweep below fails are the ones the counts name: each under
// its own name, on its own computer. md's, whole: the store writes its record
// with RegSetKeyValueA on the console, the list is changed on PRIM.
TEST(WholeOrAbsent, EachCallIsCountedUnderItsName) {
    const std::map<std::pair<std::string, std::string>, int> expected = {
        {{"ALPHA", "RegOpenKeyExA"}, 4}, {{"ALPHA", "RegQueryValueExA"}, 2}, {{"ALPHA", "RegCreateKeyExA"}, 1},
        {{"ALPHA", "RegSetKeyValueA"}, 1}, {{"ALPHA", "RegCloseKey"}, 3}, {{"ALPHA", "GetComputerNameA"}, 2},
        {{"ALPHA", "loadStore"}, 1}, {{"ALPHA", "readRecord"}, 2}, {{"ALPHA", "writeRecord"}, 1},
        {{"ALPHA", "productInfo"}, 5}, {{"NEW", "WNetAddConnection2A"}, 1}, {{"NEW", "WNetCancelConnection2A"}, 1},
        {{"PRIM", "RegOpenKeyExA"}, 1}, {{"PRIM", "RegCreateKeyExA"}, 1}, {{"PRIM", "RegSetValueExA"}, 1},
        {{"PRIM", "RegConnectRegistryA"}, 2}, {{"PRIM", "RegEnumValueA"}, 3}, {{"PRIM", "RegCloseKey"}, 4},
        {{"PRIM", "WNetAddConnection2A"}, 1}, {{"PRIM", "WNetCancelConnection2A"}, 1},
    };
    EXPECT_EQ(callsOf(kForms[1]), expected);
}

// Fails the n-th of every call of every command form in turn: the outcome is
// told truly, nothing is left open, and no run makes the grouping less
// consistent than it found it (frd's world starts with the stale record it
// exists to remove), except where the command says so itself.
TEST(WholeOrAbsent, EveryFailureOfEveryCall) {
    int runs = 0;
    for (const Form& form : kForms) {
        for (const auto& [where, count] : callsOf(form)) {
            const auto& [computer, call] = where;
            for (int nth = 1; nth <= count; ++nth) {
                SCOPED_TRACE(joined(form.args) + ", " + computer + " " + call + " #" + std::to_string(nth));
                TempWorld world;
                smallNetwork(world, form);
                std::string before = findings(world);
                world.write(computer + "/faults", call + " 1013 " + std::to_string(nth) + "\n");
                RunOptions options;
                // A failed lookup of stored credentials asks for them: Esc.
                options.keys = form.keys;
                options.keys.insert(options.keys.end(), {"\x1b", "\x1b"});
                RunResult failed = run(form.args, options);
                ++runs;
                bool ok = failed.out.find("Transaction OK!") != std::string::npos;
                EXPECT_EQ(failed.status != 0, !ok) << failed.out;
                EXPECT_EQ(world.trace().find("keys left open"), std::string::npos);
                if (call != "WNetCancelConnection2A") {
                    EXPECT_EQ(world.connections(), "");
                }
                // Said by the command itself: rd's write-back failed, or md's
                // undoing of its record did.
                bool toldInconsistent = failed.out.find("Inconsistancy") != std::string::npos ||
                                        (form.args[0] == "md" && call == "deleteRecord");
                if (!toldInconsistent) {
                    std::string after = findings(world);
                    EXPECT_TRUE(after.empty() || after == before) << after << failed.out;
                }
            }
        }
    }
    std::printf("%d runs, each failing one call\n", runs);
    EXPECT_GT(runs, 100);
}

// Twelve md started at once from one console onto one primary: each waits its
// turn, and every one is attached and listed.
TEST(WholeOrAbsent, TwelveRunsAtOnceFromOneConsole) {
    TempWorld world;
    world.addComputer("PRIM", {"admin:psecret"});
    world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
    constexpr int kRuns = 12;
    for (int i = 0; i < kRuns; ++i) world.addComputer("D" + std::to_string(i), {"dadmin:dsecret"});
    std::vector<RunResult> results(kRuns);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRuns; ++i) {
        threads.emplace_back([&, i] {
            RunOptions options;
            options.keys = {"dadmin\rdsecret\r"};
            results[i] = run({"md", "PRIM", "D" + std::to_string(i)}, options);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < kRuns; ++i) {
        EXPECT_EQ(results[i].status, 0) << results[i].out;
        EXPECT_NE(world.read("PRIM/hklm.reg").find("\"D" + std::to_string(i) + "\"=hex(1):"), std::string::npos);
        EXPECT_NE(world.storedRecordBytes("D" + std::to_string(i)), "");
    }
    EXPECT_EQ(world.connections(), "");
    EXPECT_EQ(findings(world), "");
}

// A run that finds the console held waits, says so once on standard error
// after a second, naming the run it waits for (not a longer one before it),
// and goes on when it ends.
TEST(WholeOrAbsent, ASecondRunWaitsAndSaysForWhom) {
    TempWorld world;
    smallNetwork(world, kForms[0]);
    world.write("ALPHA/console.lock", "VeskCfg md PRIM " + std::string(80, 'X'));  // an earlier run's, longer
    RunResult second;
    std::thread waiting;
    RunOptions first;
    first.atPrompt = [&](pid_t, int terminal) {
        waiting = std::thread([&] { second = run({"lp", "DIST"}); });
        usleep(1500000);
        ssize_t typed = write(terminal, "dadmin\rdsecret\r", 16);
        EXPECT_EQ(typed, 16);
    };
    RunResult held = run({"mp", "P3"}, first);
    waiting.join();
    EXPECT_EQ(held.status, 0);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, "List the primary of DIST.\nDIST is attached to PRIM.\nTransaction OK!\n");
    EXPECT_NE(second.err.find("VeskCfg: VeskCfg mp P3 (process "), std::string::npos) << second.err;
    EXPECT_NE(second.err.find(") is in progress on this console; waiting for it to end.\n"), std::string::npos);
}

// A console held by something else: a moment's hold goes unsaid, a longer
// one names its holder as it can be shown, and the run goes on only once the
// console is let go.
TEST(WholeOrAbsent, ARunWaitsForTheConsoleAsLongAsItIsHeld) {
    const std::string waiting = " is in progress on this console; waiting for it to end.\n";
    struct {
        const char* what;
        std::string holder;
        int heldMs;
        std::string err;
    } rows[] = {
        {"held a moment: nothing said", "VeskCfg md PRIM (process 1)", 300, ""},
        {"a holder that wrote nothing", "", 1500, "VeskCfg: another run" + waiting},
        {"a holder of one control byte", "\x1b", 1500, "VeskCfg: ?" + waiting},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempWorld world;
        smallNetwork(world, kForms[0]);
        world.write("ALPHA/console.lock", row.holder);
        int fd = open((world.root() + "/ALPHA/console.lock").c_str(), O_RDWR);
        ASSERT_EQ(flock(fd, LOCK_EX), 0);
        std::thread letGo([&] {
            usleep(row.heldMs * 1000);
            close(fd);
        });
        auto started = std::chrono::steady_clock::now();
        RunResult waited = run({"lp", "DIST"});
        auto took = std::chrono::steady_clock::now() - started;
        letGo.join();
        EXPECT_EQ(waited.out, "List the primary of DIST.\nDIST is attached to PRIM.\nTransaction OK!\n");
        EXPECT_EQ(waited.err, row.err);
        EXPECT_GE(took, std::chrono::milliseconds(row.heldMs)) << "it went on while the console was held";
    }
}

// Keys typed while a run waits for the console are its prompt's, read as
// typed and never echoed (a password least of all), whether or not the
// terminal it opened is its descriptor 0.
TEST(WholeOrAbsent, KeysTypedWhileWaitingAreThePromptsAsTyped) {
    for (bool inputClosed : {false, true}) {
        SCOPED_TRACE(inputClosed ? "standard input closed" : "standard input /dev/null");
        TempWorld world;
        smallNetwork(world, kForms[0]);
        RunResult second;
        std::thread waiting;
        std::atomic<bool> typedAhead = false;
        RunOptions first;
        first.atPrompt = [&](pid_t, int terminal) {
            waiting = std::thread([&] {
                RunOptions options;
                options.inputClosed = inputClosed;
                options.afterTyping = [&](pid_t child, int secondTerminal) {
                    for (int i = 0; i < 20000 && !waitsForALock(child); ++i) usleep(1000);
                    ssize_t typed = write(secondTerminal, "dadmin\rdsecret\r", 15);
                    EXPECT_EQ(typed, 15);
                    typedAhead = true;
                };
                second = run({"mp", "NEW"}, options);
            });
            for (int i = 0; i < 20000 && !typedAhead; ++i) usleep(1000);
            ssize_t typed = write(terminal, "dadmin\rdsecret\r", 15);
            EXPECT_EQ(typed, 15);
        };
        RunResult held = run({"mp", "P3"}, first);
        waiting.join();
        EXPECT_EQ(held.status, 0);
        EXPECT_EQ(second.status, 0) << second.out;
        EXPECT_EQ(second.echo, "dadmin\r\n*******\r\n");
        EXPECT_TRUE(second.echoOnAtEnd);
    }
}

// Ended, whether or not the runner has reaped it yet.
bool hasEnded(pid_t process) {
    siginfo_t info = {};
    int result;
    while ((result = waitid(P_PID, static_cast<id_t>(process), &info, WEXITED | WNOHANG | WNOWAIT)) != 0 && errno == EINTR) {
    }
    return result != 0 || info.si_pid == process;
}

// An interrupt at any moment of md or rd: the change is whole or absent, and
// an interrupt held during the change is said on standard error. Some come
// at moments spread over a run; some while the run is known to be in the
// change, waiting for the primary's lock that the test holds, and those
// must be held.
TEST(WholeOrAbsent, InterruptAtAnyMoment) {
    std::vector<std::string> names;
    for (int i = 0; i < 20000; ++i) names.push_back("S" + std::to_string(i));
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> keys;
    };
    const Case cases[] = {{{"md", "PRIM", "NEW"}, {"dadmin\rdsecret\r"}}, {{"rd", "PRIM", "DIST"}, {}}};
    auto prepare = [&](TempWorld& world, const Case& each) {
        smallNetwork(world, {each.args, each.keys});
        names.push_back("DIST");
        world.write("PRIM/hklm.reg", listHive(names));
        names.pop_back();
        world.storeRecord("S0", "PRIM", "dadmin", "dsecret", 1);  // one listed name with its record
    };
    for (const Case& each : cases) {
        // The signals are spread over the length of a whole run, however fast
        // this build is.
        int lengthUs = 0;
        {
            TempWorld world;
            prepare(world, each);
            RunOptions options;
            options.keys = each.keys;
            std::chrono::steady_clock::time_point typed;
            options.afterTyping = [&](pid_t, int) { typed = std::chrono::steady_clock::now(); };
            EXPECT_EQ(run(each.args, options).status, 0);
            lengthUs = static_cast<int>(
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - typed).count());
        }
        constexpr int kSpread = 24;  // then four while the list is changed
        for (int step = 0; step < kSpread + 4; ++step) {
            const bool inTheChange = step >= kSpread;
            const int signal = step % 2 ? SIGTERM : SIGINT;
            int delayUs = lengthUs * step / kSpread;
            SCOPED_TRACE(joined(each.args) + ", signal " + std::to_string(signal) +
                         (inTheChange ? " during the change" : " after " + std::to_string(delayUs) + " us"));
            TempWorld world;
            prepare(world, each);
            int lock = -1;
            if (inTheChange) {
                lock = open((world.root() + "/PRIM/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
                ASSERT_EQ(flock(lock, LOCK_EX), 0);
            }
            RunOptions options;
            options.keys = each.keys;
            // From a thread of its own, so that the run's output is read meanwhile.
            std::atomic<bool> sent = false;
            std::thread sender;
            options.afterTyping = [&](pid_t child, int) {
                sender = std::thread([&, child] {
                    if (inTheChange) {
                        while (!waitsForALock(child) && !hasEnded(child)) usleep(200);
                    } else {
                        usleep(delayUs);
                    }
                    sent = !hasEnded(child) && (!inTheChange || waitsForALock(child));
                    kill(child, signal);
                    if (lock >= 0) {
                        usleep(1000);
                        close(lock);
                    }
                });
            };
            RunResult interrupted = run(each.args, options);
            if (sender.joinable()) sender.join();
            EXPECT_TRUE(interrupted.status == 0 || interrupted.status == 234 || interrupted.status == 128 + signal)
                << interrupted.status;
            bool held = interrupted.err.find("came during a change and was held") != std::string::npos;
            if (inTheChange) {
                EXPECT_TRUE(sent);
                EXPECT_TRUE(held) << interrupted.status << " " << interrupted.err;
            }
            if (held) {
                EXPECT_EQ(interrupted.status, 0);
            }
            if (interrupted.status != 128 + signal) {
                EXPECT_EQ(world.connections(), "");
            }
            // Every listed name but S0 lacks a record: only the pair the command
            // changed may be told apart.
            std::string found = findings(world);
            std::string pair = each.args[2];
            EXPECT_EQ(found.find(pair + "'s record names"), std::string::npos) << found;
            EXPECT_EQ(found.find("lists " + pair + ","), std::string::npos) << found;
        }
    }
}

}  // namespace
