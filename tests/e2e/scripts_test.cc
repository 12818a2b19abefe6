// Runs that a script drives: credentials from a program that answers the
// prompt (VESKCFG_ASKPASS), with or without a terminal; and what a terminal
// is shown of names that others may write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"

namespace {

const std::string kOk = "Transaction OK!\n";

std::string prompt(const std::string& server) {
    return " Press <Esc> to quit \n" + server + " : Username = " + server + " : Password = ";
}

// A program that answers the prompt with `body` (shell), noting each prompt
// it was asked in asked.log.
std::string askpass(const TempWorld& world, const std::string& body) {
    const std::string path = world.root() + "/askpass";
    world.write("askpass", "#!/bin/sh\nprintf '%s\\n' \"$1\" >>'" + world.root() + "/asked.log'\n" + body + "\n");
    chmod(path.c_str(), 0700);
    return path;
}

// PRIM's account answered by field, the password read from a file only its
// owner may read: what the guide shows.
const char kAnswers[] =
    "case \"$1\" in\n"
    "  *Username*) echo admin ;;\n"
    "  *Password*) head -n 1 \"$(dirname \"$0\")/prim.password\" ;;\n"
    "esac";

TEST(Askpass, AnswersThePromptForAScript) {
    struct Row {
        const char* what;
        std::string body;  // of the program; empty: VESKCFG_ASKPASS set empty
        bool terminal;
        bool force;
        std::string out;
        int status;
        std::string asked;  // the prompts the program was given
        const char* err;    // on standard error, in part
    };
    const std::string typedOut = "Making PRIM a primary.\n" + prompt("PRIM") + kOk;
    const std::string escOut = "Making PRIM a primary.\n Press <Esc> to quit \nPRIM : Username = ";
    const std::string bothAsked = "PRIM : Username = \nPRIM : Password = \n";
    const Row rows[] = {
        {"no terminal: the program answers", kAnswers, false, false, typedOut, 0, bothAsked, ""},
        {"a terminal: the program is not asked", kAnswers, true, false, escOut, 234, "", ""},
        {"a terminal, and force: the program answers", kAnswers, true, true, typedOut, 0, bothAsked, ""},
        {"the program fails: Esc", "echo admin; exit 1", false, false, escOut, 234, "PRIM : Username = \n", ""},
        {"the program prints nothing: Esc", "true", false, false, escOut, 234, "PRIM : Username = \n", ""},
        {"only its first line is its answer", "case \"$1\" in *Username*) printf 'admin\\nroot\\n' ;; *) echo psecret; echo x ;; esac",
         false, false, typedOut, 0, bothAsked, ""},
        {"a wrong password: the logon fails", "echo admin", false, false,
         "Making PRIM a primary.\n" + prompt("PRIM") +
             "ERROR! The user name or password is incorrect.\r\nFailed During Transaction.\n",
         46, bothAsked, ""},
        {"no terminal, and VESKCFG_ASKPASS empty, naming no program: Esc, and why", "", false, false, escOut, 234, "",
         "VESKCFG_ASKPASS can name a program"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempWorld world;
        world.addComputer("PRIM", {"admin:psecret"});
        world.write("prim.password", "psecret\nnot this line\n");
        chmod((world.root() + "/prim.password").c_str(), 0600);
        RunOptions options;
        options.terminal = row.terminal;
        options.environment.push_back({"VESKCFG_ASKPASS", row.body.empty() ? "" : askpass(world, row.body)});
        if (row.force) options.environment.push_back({"VESKCFG_ASKPASS_REQUIRE", "force"});
        if (row.terminal) options.keys = {"\x1b"};
        RunResult run = runVeskCfg(VESKCFG_BINARY, {"mp", "prim"}, options);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(world.read("asked.log"), row.asked);
        EXPECT_EQ(run.echo.find("admin"), std::string::npos) << run.echo;  // an answer is never echoed
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        EXPECT_EQ(world.connections(), "");
    }
}

// The program is held to bounds: its first line only, a field's 20
// characters at most, never sent cut short, and its time (2 s here), past
// which it is ended, by force if need be. Each row ends in its time.
TEST(Askpass, IsHeldToItsBounds) {
    const std::string twenty = "Password-of-20-chars";
    const std::string escAtPassword = "Making PRIM a primary.\n" + prompt("PRIM");
    const char* tooLong = "more than the 20 characters a field keeps";
    const char* noAnswer = "gave no answer within 2 s and was ended";
    struct {
        const char* what;
        std::string password;  // the program's body for the password field
        int status;
        const char* err;
    } rows[] = {
        {"20 characters: taken", "echo " + twenty, 0, ""},
        {"an answer without a line end: taken", "printf %s " + twenty, 0, ""},
        {"silent, its output open: ended at its time", "sleep 30", 234, noAnswer},
        {"21 characters: refused, no logon tried", "echo " + twenty + "x", 234, tooLong},
        {"a line without end", "head -c 100000 /dev/zero | tr '\\0' a", 234, tooLong},
        {"lines without end", "yes " + twenty, 234, ""},
        {"its output closed, and still running", "exec >&-; sleep 30", 234, noAnswer},
        {"deaf to SIGTERM", "trap '' TERM; exec >&-; sleep 30", 234, noAnswer},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempWorld world;
        world.addComputer("PRIM", {"admin:" + twenty});
        RunOptions options;
        options.terminal = false;
        options.environment = {
            {"VESKCFG_ASKPASS", askpass(world, "case \"$1\" in *Username*) echo admin ;; *) " + row.password + " ;; esac")},
            {"VESKCFG_ASKPASS_TIMEOUT", "2"}};
        auto started = std::chrono::steady_clock::now();
        RunResult run = runVeskCfg(VESKCFG_BINARY, {"mp", "prim"}, options);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
        EXPECT_EQ(run.status, row.status) << run.out;
        EXPECT_EQ(run.out, row.status ? escAtPassword : escAtPassword + kOk);
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        if (row.status) {
            EXPECT_EQ(world.trace().find("WNetAddConnection2A"), std::string::npos) << "a logon was tried";
        }
    }
}

// Stopped with Ctrl-Z and continued while the program has not answered yet:
// the wait goes on, and takes the answer when it comes.
TEST(Askpass, StoppedAndContinuedWhileItWaits) {
    TempWorld world;
    world.addComputer("PRIM", {"admin:psecret"});
    world.write("prim.password", "psecret\n");
    RunOptions options;
    options.jobControl = true;
    options.environment = {{"VESKCFG_ASKPASS", askpass(world, "sleep 1; " + std::string(kAnswers))},
                           {"VESKCFG_ASKPASS_REQUIRE", "force"}};
    options.afterTyping = [](pid_t, int terminal) {
        usleep(300000);
        pid_t job = tcgetpgrp(terminal);
        kill(-job, SIGTSTP);
        usleep(200000);
        kill(-job, SIGCONT);
    };
    RunResult run = runVeskCfg(VESKCFG_BINARY, {"mp", "prim"}, options);
    EXPECT_EQ(run.out, "Making PRIM a primary.\n" + prompt("PRIM") + kOk) << run.err;
    EXPECT_EQ(run.status, 0);
}

// cc asks both of its fields of the program too, and stores what it said.
TEST(Askpass, AnswersBothOfCcsFields) {
    TempWorld world;
    world.addComputer("PRIM", {"admin:psecret", "newadmin:n3w"});
    world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
    RunOptions options;
    options.terminal = false;
    options.environment = {{"VESKCFG_ASKPASS", askpass(world, "case \"$1\" in *Username*) echo newadmin ;; *) echo n3w ;; esac")}};
    RunResult run = runVeskCfg(VESKCFG_BINARY, {"cc", "PRIM"}, options);
    EXPECT_EQ(run.out, "Changing credentials for PRIM.\n\nPRIM : Username = admin\nPRIM : Password = *******\n Enter the "
                       "new credentials for PRIM\n" + prompt("PRIM") + kOk);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(world.storedRecordBytes("PRIM"), roleRecordBytes("PRIM", 0, "newadmin", "n3w"));
}

}  // namespace

namespace {

// Names that others may write (a primary's list, a stored record) reach a
// terminal with their control bytes as '?'; a pipe gets them as stored.
TEST(Terminal, ShowsNamesWithoutTheirControlBytes) {
    // Each kind of control byte: ESC, BEL, the first and last C0, DEL.
    const std::string title = "\x1b]0;owned\x07\x01\x1f\x7f", clear = "\x1b[2J";
    struct Row {
        const char* what;
        std::vector<std::string> args;
        bool onTerminal;
        std::string shown;  // in what the terminal or the pipe gets
    };
    const Row rows[] = {
        {"ld on a terminal", {"ld", "PRIM"}, true, "      attached server: ?]0;owned????\r\n"},
        {"ld into a pipe", {"ld", "PRIM"}, false, "      attached server: " + title + "\n"},
        {"lp on a terminal", {"lp", "DIST"}, true, "DIST is attached to P?[2J.\r\n"},
        {"lp into a pipe", {"lp", "DIST"}, false, "DIST is attached to P" + clear + ".\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempWorld world;
        world.addComputer("PRIM", {"admin:psecret"});
        world.addComputer("DIST", {"dadmin:dsecret"});
        world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
        world.storeRecord("DIST", "P" + clear, "dadmin", "dsecret", 1);
        world.write("PRIM/hklm.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\"
                                     "VeskDistributedServers]\n\"" + title + "\"=hex(1):\n\n");
        RunOptions options;
        options.outputOnTerminal = row.onTerminal;
        RunResult run = runVeskCfg(VESKCFG_BINARY, row.args, options);
        const std::string& got = row.onTerminal ? run.echo : run.out;
        EXPECT_NE(got.find(row.shown), std::string::npos) << got;
        if (row.onTerminal) {
            EXPECT_FALSE(drivesTerminal(got)) << got;
        }
    }
}

}  // namespace
