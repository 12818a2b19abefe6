// No copy of a password outlives its use: every block VeskCfg gives back is
// looked at for the passwords it was given, typed, answered or stored
// (tests/support/freed_secrets.c), and none may hold one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/freed_watch.h"
#include "tools/support/temp_world.h"

namespace {

// Twenty characters, as many as the prompt keeps, and past any string's
// room of its own: each copy of them is one of the heap's.
const std::string kPassword = "Wiped-Password-20chr";
const std::string kOther = "Other-Password-20chr";

TEST(Secrets, NoFreedMemoryHoldsAPassword) {
    if (!freedWatchWorks()) GTEST_SKIP() << "the sanitizers' runtime must come first; the watch cannot be loaded";
    struct Row {
        const char* what;
        std::vector<std::string> args;
        std::string keys;  // typed at the prompt; none: answered by VESKCFG_ASKPASS
        bool stored;       // PRIM's record is stored, with kOther
        int status;
    } rows[] = {
        {"a prompt", {"mp", "PRIM"}, "admin\r" + kPassword + "\r", false, 0},
        {"an askpass answer", {"mp", "PRIM"}, "", false, 0},
        {"cc", {"cc", "PRIM"}, "admin\r" + kPassword + "\r", true, 0},
        {"a stored account", {"lp", "PRIM"}, "", true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempWorld world;
        world.addComputer("PRIM", {"admin:" + kPassword, "other:" + kOther});
        if (row.stored) world.storeRecord("PRIM", "PRIM", "other", kOther, 0);
        world.write("askpass", "#!/bin/sh\ncase $1 in *Username*) echo admin ;; *) echo " + kPassword + " ;; esac\n");
        chmod((world.root() + "/askpass").c_str(), 0700);
        RunOptions options;
        if (row.keys.empty()) {
            options.terminal = false;
            options.environment = {{"VESKCFG_ASKPASS", world.root() + "/askpass"}};
        } else {
            options.keys = {row.keys};
        }
        WatchedRun watched = runWatched(VESKCFG_BINARY, row.args, options, {kPassword, kOther}, world.root());
        EXPECT_EQ(watched.run.status, row.status) << watched.run.out << watched.run.err;
        EXPECT_EQ(watched.held, std::vector<std::string>{});
        EXPECT_GT(watched.scanned, 0) << "the watch was not loaded";
        struct stat trace = {};
        ASSERT_EQ(stat((world.root() + "/trace").c_str(), &trace), 0);
        EXPECT_EQ(trace.st_mode & 0777, 0600u) << "the trace names accounts: its owner's only";
        std::printf("[ watched  ] %s: %ld blocks freed and looked at, %zu holding a password\n", row.what,
                    watched.scanned, watched.held.size());
    }
}

}  // namespace
