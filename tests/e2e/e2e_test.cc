// The real VeskCfg against a fresh world: output byte for byte, exit status,
// and what the world holds afterwards. Every row also checks that no
// connection and no registry key was left open and that nothing went to
// standard error.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "tools/support/temp_world.h"
#include "tools/support/run_veskcfg.h"

namespace {

RunResult runVeskCfg(const std::vector<std::string>& arguments, const RunOptions& options = {}) {
    return runVeskCfg(VESKCFG_BINARY, arguments, options);
}

const char kUsage[] =
    " Vesklane Configuration Version 0.1.\n"
    " Sintax:\n"
    " VeskCfg [?][command PrimaryServer [DistributedServer]]\n"
    " where: command can be:\n"
    "      mp  - to make a primary server.\n"
    "      md  - to assign a distributed server to a primary server.\n"
    "      rp  - to remove primary server.\n"
    "      rd  - to remove distributed server from primary server.\n"
    "      frd - to force remove distributed server from primary server.\n"
    "      ld  - to list all distributed servers of a primary server.\n"
    "      lp  - to list the primary server of a distributed server.\n"
    "      cc  - to change credentials for a server.\n"
    " Ex:\n"
    " VeskCfg rd primserver distrserver.\n"
    "     will remove \"distrserver\" from \"primserver\".\n";

const std::string kOk = "Transaction OK!\n";
const std::string kFailed = "Failed During Transaction";
const std::string kFail = "Fail During Transaction";

std::string error(const std::string& text, const std::string& context) {
    return "ERROR! " + text + "\r\n" + context + ".\n";
}
const std::string kNotFound = "The system cannot find the file specified.";
const std::string kDenied = "Access is denied.";
const std::string kNoPath = "The network path was not found.";
const std::string kLogon = "The user name or password is incorrect.";
const std::string kCantWrite = "The configuration registry key could not be written.";
const std::string kBadKey = "The configuration registry key is invalid.";

std::string prompt(const std::string& server) {
    return " Press <Esc> to quit \n" + server + " : Username = " + server + " : Password = ";
}

// Standard error of a run whose prompt finds no terminal to ask on.
std::string noTerminalSaid(const std::string& server) {
    return "VeskCfg: no terminal to ask for \"" + server + " : Username = \" on: the prompt ends as Esc. "
           "VESKCFG_ASKPASS can name a program that answers it.\n";
}

const std::string kListPath = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n";
const std::string kPrimTyped = "admin\rpsecret\r";
const std::string kDistTyped = "dadmin\rdsecret\r";

// The network most rows start from: ALPHA runs the tool; PRIM, DIST, OTHER
// and DOWN (offline) are servers.
void network(TempWorld& world) {
    world.addComputer("PRIM", {"admin:psecret", "newadmin:n3w"});
    world.addComputer("DIST", {"dadmin:dsecret"});
    world.addComputer("OTHER", {"oadmin:osecret"});
    world.addComputer("DOWN", {"admin:psecret"});
    world.write("DOWN/offline", "");
}
void primIsPrimary(TempWorld& world) { world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0); }
void distOfPrim(TempWorld& world) { world.storeRecord("DIST", "PRIM", "dadmin", "dsecret", 1); }
void otherIsPrimary(TempWorld& world) { world.storeRecord("OTHER", "OTHER", "oadmin", "osecret", 0); }
void primLists(TempWorld& world, const std::string& values) {
    world.write("PRIM/hklm.reg", "REGEDIT4\n\n" + kListPath + values);
}

struct Row {
    const char* name;
    std::function<void(TempWorld&)> setup;
    std::vector<std::string> args;
    std::vector<std::string> keys;
    std::string out;
    int status;
    std::function<void(TempWorld&)> after = nullptr;
    std::string echo = "-";  // "-": not checked
    bool terminal = true;
    std::vector<std::pair<std::string, std::string>> environment = {};
    std::string err = "";  // what the simulation says on standard error
};

// Every connection a run opened is cancelled once, and none it did not: a
// connection made, and one replaced after 1219 (its forced cancel comes
// before the second try), each one cancel in the trace.
void expectEachConnectionCancelledOnce(const std::string& trace) {
    std::map<std::string, int> owed;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string call, remote;
        words >> call >> remote;
        if (call == "WNetAddConnection2A" && (line.ends_with("-> 0") || line.ends_with("-> 1219"))) ++owed[remote];
        if (call == "WNetCancelConnection2A") --owed[remote];
    }
    for (const auto& [remote, count] : owed) EXPECT_EQ(count, 0) << remote << " is cancelled " << -count << " more times than opened\n" << trace;
}

void runRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempWorld world;
        network(world);
        if (row.setup) row.setup(world);
        RunOptions options;
        options.keys = row.keys;
        options.terminal = row.terminal;
        options.environment = row.environment;
        // A run that hangs is ended by the runner's limit, and fails on its status.
        RunResult run = runVeskCfg(row.args, options);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.status, row.status);
        std::string err = row.err;
        for (size_t at; (at = err.find("<world>")) != std::string::npos;) err.replace(at, 7, world.root());
        EXPECT_EQ(run.err, err);
        if (row.echo != "-") {
            EXPECT_EQ(run.echo, row.echo);
        }
        EXPECT_EQ(world.connections(), "");
        expectEachConnectionCancelledOnce(world.trace());
        EXPECT_EQ(world.trace().find("keys left open"), std::string::npos);
        if (row.after) row.after(world);
    }
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

auto recordIs(const std::string& server, const std::string& primary, int distributed, const std::string& user,
              const std::string& password) {
    return [=](TempWorld& world) {
        EXPECT_EQ(world.storedRecordBytes(server), roleRecordBytes(primary, distributed, user, password)) << server;
    };
}
auto noRecord(const std::string& server) {
    return [=](TempWorld& world) { EXPECT_EQ(world.storedRecordBytes(server), "") << server; };
}
auto both(std::function<void(TempWorld&)> first, std::function<void(TempWorld&)> second) {
    return [=](TempWorld& world) {
        first(world);
        second(world);
    };
}
auto hiveHas(const std::string& computer, const std::string& part) {
    return [=](TempWorld& world) { EXPECT_TRUE(contains(world.read(computer + "/hklm.reg"), part)) << part; };
}
auto hiveLacks(const std::string& computer, const std::string& part) {
    return [=](TempWorld& world) { EXPECT_FALSE(contains(world.read(computer + "/hklm.reg"), part)) << part; };
}
auto traceHas(const std::string& part) {
    return [=](TempWorld& world) { EXPECT_TRUE(contains(world.trace(), part)) << world.trace(); };
}

// ---- command line -------------------------------------------------------

TEST(CommandLine, UsageRefusalsAndNames) {
    auto faultedStore = [](TempWorld& world) { world.write("ALPHA/faults", "loadStore 1009\n"); };
    const std::string loadFailure = "Could not load Quenbase.dll: the registry of ALPHA cannot be read (error 1009) .\n";
    std::string longest(255, 'n'), tooLong(256, 'n');
    // Without a terminal the prompt ends as if Esc had been pressed.
    auto kNoTerminal = [](const std::string& server) { return " Press <Esc> to quit \n" + server + " : Username = "; };
    auto said = [](const std::string& server) { return noTerminalSaid(server); };
    const std::string kBadName = "The filename, directory name, or volume label syntax is incorrect.";
    runRows({
        {"no arguments", nullptr, {}, {}, kUsage, 0},
        {"/? asks for help", nullptr, {"/?"}, {}, kUsage, 0},
        {"-? asks for help", nullptr, {"-?"}, {}, kUsage, 0},
        {"help loads no store", faultedStore, {"/?"}, {}, kUsage, 0},
        {"a lone ? is no help form", nullptr, {"?"}, {}, kUsage, 87},
        {"a lone ? loads the store first", faultedStore, {"?"}, {}, loadFailure, 241},
        {"the store is loaded before the word is read", faultedStore, {"mp", "x"}, {}, loadFailure, 241},
        {"empty first argument", nullptr, {""}, {}, kUsage, 87},
        {"unknown word", nullptr, {"make", "x"}, {}, kUsage, 87},
        {"four letters never match", nullptr, {"frdx", "a", "b"}, {}, kUsage, 87},
        {"mp with two names", nullptr, {"mp", "a", "b"}, {}, kUsage, 87},
        {"md with one name", nullptr, {"md", "a"}, {}, kUsage, 87},
        {"five arguments", nullptr, {"md", "a", "b", "c"}, {}, kUsage, 87},
        {"md of equal names", nullptr, {"md", "prim", "Prim"}, {}, "You can not assign PRIM to PRIM.\n", 87},
        {"rd of equal names", nullptr, {"RD", "a", "A"}, {}, "You can not remove A from A.\n", 87},
        {"frd of equal names", nullptr, {"frd", "a", "a"}, {}, "You can not remove A from A.\n", 87},
        {"a word in capitals, a name upper-cased", nullptr, {"LP", "nowhere1"}, {},
         "List the primary of NOWHERE1.\n" + kNoTerminal("NOWHERE1"), 234, nullptr, "-", false, {}, said("NOWHERE1")},
        {"255 characters are a name, too long for a remote name", nullptr, {"lp", longest}, {},
         "List the primary of " + std::string(255, 'N') + ".\n" + error(kBadName, kFailed), 123},
        {"256 characters are refused", nullptr, {"lp", tooLong}, {},
         "A server name can hold at most 255 characters; the name given has 256.\n", 123},
        {"code page 1252 upper-cases accented letters", nullptr, {"lp", "\xe9mile\xff"}, {},
         "List the primary of \xc9MILE\x9f.\n" + kNoTerminal("\xc9MILE\x9f"), 234, nullptr, "-", false, {},
         said("\xc9MILE\x9f")},
        {"code page 932 keeps double-byte characters", nullptr, {"lp", "\x82\x61z\x81\x7a"}, {},
         "List the primary of \x82\x61Z\x81\x7a.\n" + kNoTerminal("\x82\x61Z\x81\x7a"), 234, nullptr, "-", false,
         {{"VESKCFG_CODEPAGE", "932"}}, said("\x82\x61Z\x81\x7a")},
        {"code page 1252 maps the same bytes as letters", nullptr, {"lp", "\x82\x61z"}, {},
         "List the primary of \x82\x41Z.\n" + kNoTerminal("\x82\x41Z"), 234, nullptr, "-", false, {}, said("\x82\x41Z")},
    });
}

// Signals at a prompt: the prompt ends as Esc does and the command cancels
// what it opened (here DIST's connection, made before PRIM's prompt); the
// terminal always gets its mode back.
bool echoOn(int terminal) {
    struct termios mode;
    return tcgetattr(terminal, &mode) == 0 && (mode.c_lflag & ECHO);
}

bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000 && !condition(); ++i) usleep(1000);
    return condition();
}

TEST(Signals, AtThePrompt) {
    // As the terminal sends them, to its foreground job.
    auto send = [](std::vector<int> numbers) {
        return [numbers](pid_t, int terminal) {
            for (int number : numbers) kill(-tcgetpgrp(terminal), number);
        };
    };
    // Two signals at once end the run by the second, not as Esc does.
    auto twoAtOnce = send({SIGSTOP, SIGINT, SIGTERM, SIGCONT});
    // Ctrl-Z: the terminal is the shell's while stopped, the prompt's again after fg.
    auto stopAndGoOn = [](pid_t, int terminal) {
        pid_t job = tcgetpgrp(terminal);
        kill(-job, SIGTSTP);
        EXPECT_TRUE(waitFor([&] { return echoOn(terminal); }));
        kill(-job, SIGCONT);
        EXPECT_TRUE(waitFor([&] { return !echoOn(terminal); }));
        ssize_t written = write(terminal, kPrimTyped.data(), kPrimTyped.size());
        EXPECT_EQ(written, static_cast<ssize_t>(kPrimTyped.size()));
    };
    struct SignalRow {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> keys;  // before the prompt that gets the signals
        std::function<void(pid_t, int)> atPrompt;
        std::vector<int> statuses;  // any of them
        bool inputClosed = false;
    };
    // md asks for DIST's credentials, connects to DIST, then asks for PRIM's.
    const std::vector<std::string> md = {"md", "PRIM", "DIST"};
    const SignalRow rows[] = {
        {"SIGINT", md, {kDistTyped}, send({SIGINT}), {234}},
        {"SIGTERM", md, {kDistTyped}, send({SIGTERM}), {234}},
        {"SIGHUP", md, {kDistTyped}, send({SIGHUP}), {234}},
        {"SIGQUIT, without a core file", md, {kDistTyped}, send({SIGQUIT}), {234}},
        {"a second signal ends the run", md, {kDistTyped}, twoAtOnce, {128 + SIGINT, 128 + SIGTERM}},
        {"Ctrl-Z, then fg", {"mp", "PRIM"}, {}, stopAndGoOn, {0}},
        {"SIGINT, the terminal its descriptor 0", md, {kDistTyped}, send({SIGINT}), {234}, true},
        {"Ctrl-Z, then fg, the terminal its descriptor 0", {"mp", "PRIM"}, {}, stopAndGoOn, {0}, true},
    };
    for (const SignalRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempWorld world;
        network(world);
        RunOptions options;
        options.keys = row.keys;
        options.atPrompt = row.atPrompt;
        options.jobControl = true;
        options.inputClosed = row.inputClosed;
        RunResult run = runVeskCfg(row.args, options);
        EXPECT_TRUE(std::find(row.statuses.begin(), row.statuses.end(), run.status) != row.statuses.end())
            << run.status;
        EXPECT_TRUE(run.echoOnAtEnd);
        EXPECT_FALSE(world.exists("core"));
        if (run.status == 234) {
            EXPECT_EQ(world.connections(), "");
        }
        EXPECT_EQ(world.storedRecordBytes("DIST"), "");
    }
}

// Once a prompt is answered the handlers it found are back: SIGQUIT, which a
// change does not hold, ends the run at once, before the change is made.
TEST(Signals, AfterThePromptSigquitEndsTheRunAtOnce) {
    TempWorld world;
    network(world);
    RunOptions options;
    options.keys = {kPrimTyped};
    options.environment = {{"VESKCFG_STOP_BEFORE_WRITE", "2"}};  // stopped before it connects (the first: the store)
    options.afterTyping = [](pid_t child, int) {
        EXPECT_TRUE(waitFor([&] {
            std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
            std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
            size_t close = text.rfind(')');
            return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'T';
        }));
        kill(child, SIGQUIT);
        kill(child, SIGCONT);
    };
    RunResult run = runVeskCfg({"mp", "PRIM"}, options);
    EXPECT_EQ(run.status, 128 + SIGQUIT) << run.out;
    EXPECT_TRUE(run.echoOnAtEnd);
    EXPECT_FALSE(world.exists("core"));
    EXPECT_EQ(world.storedRecordBytes("PRIM"), "");
}

// ---- the console's characters ---------------------------------------------

// The command line, the keys and the output speak the locale's character
// set; the names, the world's files and the servers the ANSI code page.
TEST(Console, ConvertsAtItsEdge) {
    const std::vector<std::pair<std::string, std::string>> utf8 = {{"LC_ALL", "C.UTF-8"}};
    const std::string cafe = "CAF\xC3\x89", cafeAnsi = "CAF\xC9";
    auto cafeExists = [&](TempWorld& w) {
        primIsPrimary(w);
        w.addComputer(cafeAnsi, {"d\xE9:pw"});
    };
    auto listing = [](TempWorld& w) {
        primIsPrimary(w);
        primLists(w, "\"CAF\xC9\"=hex(1):\n\"\x80\"=hex(1):\n");
    };
    const std::string listed = "List all distributed servers for PRIM.\nPRIM is a primary.\n";
    const std::string refused = "VeskCfg: an argument holds U+65E5, which code page 1252 cannot hold: it is refused (error 123).\n";
    runRows({
        {"a name and an account typed in UTF-8 are the code page's", cafeExists, {"md", "prim", "caf\xC3\xA9"},
         {"d\xC3\xA9\rpw\r"},
         "Assigning " + cafe + " to PRIM.\n" + prompt(cafe) + "PRIM is a primary.\n             No attached servers\n" + kOk, 0,
         both(recordIs(cafeAnsi, "PRIM", 1, "d\xE9", "pw"), hiveHas("PRIM", kListPath + "\"" + cafeAnsi + "\"")),
         "d\xC3\xA9\r\n**\r\n", true, utf8},
        {"names read are written in UTF-8", listing, {"ld", "PRIM"}, {},
         listed + "      attached server: " + cafe + "\n      attached server: \xE2\x82\xAC\n" + kOk, 0, nullptr, "-", true,
         utf8},
        {"in the C locale, as bytes of the code page", listing, {"ld", "PRIM"}, {},
         listed + "      attached server: " + cafeAnsi + "\n      attached server: \x80\n" + kOk, 0},
        {"a character the code page lacks is refused", nullptr, {"md", "PRIM", "\xE6\x97\xA5"}, {}, "", 123,
         [](TempWorld& w) { EXPECT_FALSE(w.exists("ALPHA/hklm.reg")); }, "-", true, utf8, refused},
        {"bytes that are no UTF-8 are refused", nullptr, {"lp", "A\xC9"}, {}, "", 123, nullptr, "-", true, utf8,
         "VeskCfg: an argument holds bytes that are no UTF-8 text: it is refused (error 123).\n"},
        {"a typed character the code page lacks ends the prompt as Esc", nullptr, {"mp", "PRIM"}, {"ad\xE6\x97\xA5"},
         "Making PRIM a primary.\n Press <Esc> to quit \nPRIM : Username = ", 234, noRecord("PRIM"), "ad", true, utf8,
         "VeskCfg: a key typed holds U+65E5, which code page 1252 cannot hold: the prompt ends as Esc.\n"},
        {"code page 932: a name and an account of two bytes, echoed whole",
         [](TempWorld& w) { w.addComputer("\x83\x41", {"\x83\x41:pw"}); }, {"lp", "\xE3\x82\xA2"}, {"\xE3\x82\xA2\rpw\r"},
         "List the primary of \xE3\x82\xA2.\n" + prompt("\xE3\x82\xA2") + "\xE3\x82\xA2 is not a secondary or primary.\n", 2,
         nullptr, "\xE3\x82\xA2\r\n**\r\n", true, {{"LC_ALL", "C.UTF-8"}, {"VESKCFG_CODEPAGE", "932"}}},
    });
}

// A terminal of another character set than UTF-8 and the code page (Latin-9
// here, a locale made for the test): what both have goes across, what it
// lacks is shown as '?', and what is typed in it is the code page's.
TEST(Console, ConvertsForATerminalOfAnotherCharacterSet) {
    TempWorld scratch;  // for its folder, which goes with it
    const std::string locales = scratch.root() + "/locales";
    if (std::system(("mkdir -p '" + locales + "' && localedef -i en_US -f ISO-8859-15 '" + locales + "/en_US.ISO-8859-15' >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "localedef cannot make an ISO-8859-15 locale (apt-get install locales)";
    // glibc keeps the LOCPATH it split for the process's life, where the
    // sanitizers' build sees a leak that is not ours.
    scratch.write("leaks", "leak:__argz_add_sep\n");
    const std::vector<std::pair<std::string, std::string>> latin9 = {
        {"LOCPATH", locales}, {"LC_ALL", "en_US.ISO-8859-15"}, {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" + scratch.root() + "/leaks"}};
    auto withCodePage932 = latin9;
    withCodePage932.push_back({"VESKCFG_CODEPAGE", "932"});
    runRows({
        {"names read: the code page's \x80 is Latin-9's \xA4, its \x85 is none of Latin-9's",
         both(primIsPrimary, [](TempWorld& w) { primLists(w, "\"CAF\xC9\"=hex(1):\n\"\x80\"=hex(1):\n\"\x85\"=hex(1):\n"); }),
         {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: CAF\xC9\n"
         "      attached server: \xA4\n      attached server: ?\n" + kOk,
         0, nullptr, "-", true, latin9},
        {"a name and an account typed in Latin-9", [](TempWorld& w) {
             primIsPrimary(w);
             w.addComputer("\x8A" "E", {"\x8A:pw"});
         },
         {"md", "PRIM", "\xA6" "e"}, {"\xA6\rpw\r"},
         "Assigning \xA6" "E to PRIM.\n" + prompt("\xA6" "E") + "PRIM is a primary.\n             No attached servers\n" + kOk, 0,
         recordIs("\x8A" "E", "PRIM", 1, "\x8A", "pw"), "\xA6\r\n**\r\n", true, latin9},
        {"code page 932: its katakana, which Latin-9 lacks, is not passed as bytes",
         both(primIsPrimary, [](TempWorld& w) { primLists(w, "\"\x83\x41\"=hex(1):\n"); }), {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: ?\n" + kOk, 0, nullptr,
         "-", true, withCodePage932},
    });
}

// VESKCFG_ASKPASS answers in the locale's character set, and is asked in it.
TEST(Console, AskpassAnswersInTheLocale) {
    struct {
        const char* what;
        std::string answer;
        std::string out;
        int status;
        std::string err;
    } rows[] = {
        {"an account in UTF-8", "d\xC3\xA9", "Assigning CAF\xC3\x89 to PRIM.\n" + prompt("CAF\xC3\x89") +
         "PRIM is a primary.\n             No attached servers\n" + kOk, 0, ""},
        {"a character the code page lacks", "\xE6\x97\xA5",
         "Assigning CAF\xC3\x89 to PRIM.\n Press <Esc> to quit \nCAF\xC3\x89 : Username = ", 234,
         "VeskCfg: VESKCFG_ASKPASS answered with U+65E5, which code page 1252 cannot hold: the prompt ends as Esc.\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempWorld world;
        network(world);
        primIsPrimary(world);
        world.addComputer("CAF\xC9", {"d\xE9:pw"});
        // It is asked in UTF-8 too: the server's name in its argument is.
        world.write("askpass", "#!/bin/sh\ncase $1 in \"CAF\xC3\x89 : Username = \") echo '" + row.answer +
                                   "' ;; *Password*) echo pw ;; *) echo wrong ;; esac\n");
        chmod((world.root() + "/askpass").c_str(), 0700);
        RunOptions options;
        options.terminal = false;
        options.environment = {{"LC_ALL", "C.UTF-8"}, {"VESKCFG_ASKPASS", world.root() + "/askpass"}};
        RunResult run = runVeskCfg({"md", "PRIM", "caf\xC3\xA9"}, options);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.err, row.err);
    }
}

// Names on a terminal: what would drive it is shown as '?', in the C
// locale (where bytes 0x80-0x9F are C1 controls) and in UTF-8 (where the
// code page's bytes that convert to C1 controls are); into a pipe they go
// as they are.
TEST(Console, NoNameDrivesTheTerminal) {
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        TempWorld world;
        network(world);
        primIsPrimary(world);
        primLists(world, "\"\x81x\"=hex(1):\n\"\x9b\x31m\"=hex(1):\n\"a\\x1b[2J\"=hex(1):\n");
        RunOptions options;
        options.outputOnTerminal = true;
        options.environment = {{"LC_ALL", locale}};
        RunResult run = runVeskCfg({"ld", "PRIM"}, options);
        EXPECT_EQ(run.status, 0);
        EXPECT_FALSE(drivesTerminal(run.echo)) << run.echo;
        EXPECT_NE(run.echo.find("attached server: ?x"), std::string::npos) << run.echo;
    }
}

// ---- mp -------------------------------------------------------------------

TEST(MakePrimary, Rows) {
    runRows({
        {"typed credentials are stored", nullptr, {"mp", "prim"}, {kPrimTyped},
         "Making PRIM a primary.\n" + prompt("PRIM") + kOk, 0, recordIs("PRIM", "PRIM", 0, "admin", "psecret"),
         "admin\r\n*******\r\n"},
        {"the terminal's keys: erase, an arrow, Tab", [](TempWorld& w) { w.addComputer("PRIM", {"ac\xe0Kd:w"}); },
         {"mp", "PRIM"}, {"ab\x7f" "c\x1b[Dd\tp\x7f\x7fw\r"}, "Making PRIM a primary.\n" + prompt("PRIM") + kOk, 0,
         recordIs("PRIM", "PRIM", 0, "ac\xe0Kd", "w"), "ab\b \bc\xe0Kd\r\n*\b \b*\r\n"},
        {"stored credentials need no prompt", [](TempWorld& w) { w.storeRecord("NEW", "X", "a", "b", 1); },
         {"mp", "new"}, {}, "Making NEW a primary.\n" + error(kNoPath, kFailed), 53},
        {"twice", primIsPrimary, {"mp", "PRIM"}, {}, "Making PRIM a primary.\nPRIM is already a primary.\n", 5},
        {"attached elsewhere", both(primIsPrimary, distOfPrim), {"mp", "DIST"}, {},
         "Making DIST a primary.\nDIST is already attached to PRIM.\n", 5,
         recordIs("DIST", "PRIM", 1, "dadmin", "dsecret")},
        {"Esc at the prompt", nullptr, {"mp", "PRIM"}, {"adm\x1b"}, "Making PRIM a primary.\n Press <Esc> to quit \nPRIM : Username = ",
         234, both(noRecord("PRIM"), [](TempWorld& w) { EXPECT_EQ(w.trace(), ""); }), "adm"},
        {"no terminal ends as Esc does", nullptr, {"mp", "PRIM"}, {},
         "Making PRIM a primary.\n Press <Esc> to quit \nPRIM : Username = ", 234, noRecord("PRIM"), "-", false, {},
         noTerminalSaid("PRIM")},
        {"wrong password", nullptr, {"mp", "PRIM"}, {"admin\rwrong\r"},
         "Making PRIM a primary.\n" + prompt("PRIM") + error(kLogon, kFailed), 46, noRecord("PRIM")},
        {"offline server", nullptr, {"mp", "DOWN"}, {"admin\rpsecret\r"},
         "Making DOWN a primary.\n" + prompt("DOWN") + error(kNoPath, kFailed), 53},
        {"failed write", [](TempWorld& w) { w.write("ALPHA/faults", "writeRecord 1013\n"); }, {"mp", "PRIM"},
         {kPrimTyped}, "Making PRIM a primary.\n" + prompt("PRIM") + error(kCantWrite, kFail), 245,
         traceHas("WNetCancelConnection2A \\\\PRIM\\ipc$")},
        {"a failed read still writes", [](TempWorld& w) { w.write("ALPHA/faults", "readRecord 1012\n"); },
         {"mp", "PRIM"}, {kPrimTyped}, "Making PRIM a primary.\n" + prompt("PRIM") + kOk, 0},
        {"a name too long for the record", nullptr, {"mp", "ABCDEFGHIJKLMNOPQRSTUVWX"}, {},
         "Making ABCDEFGHIJKLMNOPQRSTUVWX a primary.\nABCDEFGHIJKLMNOPQRSTUVWX can not be stored as a primary's "
         "name: a name can hold at most 23 characters.\n",
         123, [](TempWorld& w) { EXPECT_EQ(w.trace(), ""); }},
    });
}

// ---- md -------------------------------------------------------------------

TEST(AssignDistributed, Rows) {
    const std::string head = "Assigning DIST to PRIM.\n";
    runRows({
        {"first attachment creates the list", primIsPrimary, {"md", "prim", "dist"}, {kDistTyped},
         head + prompt("DIST") + "PRIM is a primary.\n             No attached servers\n" + kOk, 0,
         both(both(recordIs("DIST", "PRIM", 1, "dadmin", "dsecret"), hiveHas("PRIM", kListPath + "\"DIST\"=hex(1):\n")),
              traceHas("WNetCancelConnection2A \\\\DIST\\ipc$ -> 0\nWNetCancelConnection2A \\\\PRIM\\ipc$ -> 0\n"))},
        {"an empty list prints nothing", both(primIsPrimary, [](TempWorld& w) { primLists(w, ""); }),
         {"md", "PRIM", "DIST"}, {kDistTyped}, head + prompt("DIST") + "PRIM is a primary.\n" + kOk, 0},
        {"present servers are listed", both(primIsPrimary, [](TempWorld& w) { primLists(w, "\"OLD\"=\"\"\n"); }),
         {"md", "PRIM", "DIST"}, {kDistTyped},
         head + prompt("DIST") + "PRIM is a primary.\n      attached server: OLD\n" + kOk, 0,
         hiveHas("PRIM", kListPath + "\"OLD\"=\"\"\n\"DIST\"=hex(1):\n")},
        {"already attached here", both(primIsPrimary, distOfPrim), {"md", "PRIM", "DIST"}, {},
         head + "DIST is already attached to PRIM.\n", 5, hiveLacks("PRIM", "DIST")},
        {"a primary cannot be attached", both(primIsPrimary, otherIsPrimary), {"md", "PRIM", "OTHER"}, {},
         "Assigning OTHER to PRIM.\nOTHER is already a primary.\n", 5},
        {"a primary without a record", nullptr, {"md", "PRIM", "DIST"}, {kDistTyped, kPrimTyped},
         head + prompt("DIST") + prompt("PRIM") + "PRIM is not primary or distributed.\n" + error(kNotFound, kFail),
         2, both(noRecord("DIST"), hiveLacks("PRIM", "DIST"))},
        {"a distributed server given as primary",
         both(otherIsPrimary, [](TempWorld& w) { w.storeRecord("PRIM", "OTHER", "admin", "psecret", 1); }),
         {"md", "PRIM", "DIST"}, {kDistTyped},
         head + prompt("DIST") + "PRIM is attached to OTHER.\n" + error(kDenied, kFail), 5, noRecord("DIST")},
        {"a failed add is reported twice and undone",
         both(primIsPrimary, [](TempWorld& w) { w.write("PRIM/faults", "RegSetValueExA 1013\n"); }),
         {"md", "PRIM", "DIST"}, {kDistTyped},
         head + prompt("DIST") + "PRIM is a primary.\n             No attached servers\n" + error(kCantWrite, kFail) +
             error(kCantWrite, kFail),
         245, noRecord("DIST")},
        {"Esc at the first prompt", primIsPrimary, {"md", "PRIM", "DIST"}, {"\x1b"},
         head + " Press <Esc> to quit \nDIST : Username = ", 234, [](TempWorld& w) { EXPECT_EQ(w.trace(), ""); }},
        {"Esc at the second prompt", nullptr, {"md", "PRIM", "DIST"}, {kDistTyped, "adm\x1b"},
         head + prompt("DIST") + " Press <Esc> to quit \nPRIM : Username = ", 234,
         both(noRecord("DIST"), traceHas("WNetCancelConnection2A \\\\DIST\\ipc$ -> 0"))},
        {"primary offline", [](TempWorld& w) { w.storeRecord("DOWN", "DOWN", "admin", "psecret", 0); },
         {"md", "DOWN", "DIST"}, {kDistTyped}, "Assigning DIST to DOWN.\n" + prompt("DIST") + error(kNoPath, kFailed),
         53, both(noRecord("DIST"), traceHas("WNetCancelConnection2A \\\\DIST\\ipc$ -> 0"))},
        {"failed write", both(primIsPrimary, [](TempWorld& w) { w.write("ALPHA/faults", "writeRecord 8\n"); }),
         {"md", "PRIM", "DIST"}, {kDistTyped},
         head + prompt("DIST") + error("Not enough memory resources are available to process this command.", kFail), 8,
         hiveLacks("PRIM", "DIST")},
        {"a name left in the list is set again", both(primIsPrimary, [](TempWorld& w) { primLists(w, "\"DIST\"=\"\"\n"); }),
         {"md", "PRIM", "DIST"}, {kDistTyped},
         head + prompt("DIST") + "PRIM is a primary.\n      attached server: DIST\n" + kOk, 0},
        {"a walk that fails at every step ends",
         both(primIsPrimary, [](TempWorld& w) {
             primLists(w, "\"A\"=\"\"\n");
             w.write("PRIM/faults", "RegEnumValueA 1010\n");
         }),
         {"md", "PRIM", "DIST"}, {kDistTyped},
         head + prompt("DIST") + "PRIM is a primary.\n      attached server: \n" + kOk, 0},
        {"a primary name too long for the record", nullptr, {"md", std::string(24, 'P'), "DIST"}, {},
         "Assigning DIST to " + std::string(24, 'P') + ".\n" + std::string(24, 'P') +
             " can not be stored as a primary's name: a name can hold at most 23 characters.\n",
         123},
    });
}

// ---- ld and lp --------------------------------------------------------------

TEST(ListRoles, Rows) {
    auto twoAttached = [](TempWorld& w) {
        primIsPrimary(w);
        distOfPrim(w);
        primLists(w, "\"DIST\"=hex(1):\n\"ZED\"=hex(1):\n");
    };
    runRows({
        {"ld of a primary", twoAttached, {"ld", "prim"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: DIST\n"
         "      attached server: ZED\n" + kOk,
         0},
        {"VESKCFG_NETWORK empty is the world", twoAttached, {"lp", "DIST"}, {},
         "List the primary of DIST.\nDIST is attached to PRIM.\n" + kOk, 0, nullptr, "-", true, {{"VESKCFG_NETWORK", ""}}},
        {"VESKCFG_NETWORK=World, in any case", twoAttached, {"lp", "DIST"}, {},
         "List the primary of DIST.\nDIST is attached to PRIM.\n" + kOk, 0, nullptr, "-", true, {{"VESKCFG_NETWORK", "World"}}},
        {"a network VeskCfg does not know: the world, and why", twoAttached, {"lp", "DIST"}, {},
         "List the primary of DIST.\nDIST is attached to PRIM.\n" + kOk, 0, nullptr, "-", true,
         {{"VESKCFG_NETWORK", "smbx"}},
         "VeskCfg: VESKCFG_NETWORK=\"smbx\" is not a network VeskCfg knows (world or smb); world is used.\n"},
        {"a primary's name the whole field long, without a NUL, is read whole", [](TempWorld& w) {
             w.storeRecordBytes("DIST", roleRecordBytes("", 1, "dadmin", "dsecret").replace(0, 24, std::string(24, 'P')));
         },
         {"lp", "DIST"}, {}, "List the primary of DIST.\nDIST is attached to " + std::string(24, 'P') + ".\n" + kOk, 0},
        {"ld of a distributed server", twoAttached, {"ld", "DIST"}, {},
         "List all distributed servers for DIST.\nDIST is attached to PRIM.\n             No attached servers\n", 2},
        {"a name listed twice, in another case, is listed once", both(primIsPrimary, [](TempWorld& w) {
             primLists(w, "\"DIST\"=hex(1):\n\"ZED\"=hex(1):\n\"dist\"=hex(1):\n");
         }),
         {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: DIST\n"
         "      attached server: ZED\n" + kOk,
         0},
        {"code page 932: two characters whose trail bytes differ as a letter's cases do are two names",
         both(primIsPrimary, [](TempWorld& w) { primLists(w, "\"\x83\x41\"=hex(1):\n\"\x83\x61\"=hex(1):\n"); }),
         {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: \x83\x41\n"
         "      attached server: \x83\x61\n" + kOk,
         0, nullptr, "-", true, {{"VESKCFG_CODEPAGE", "932"}}},
        {"a comment ending in a backslash takes no line with it", both(primIsPrimary, [](TempWorld& w) {
             primLists(w, "; \"OLD\"=hex(1): gone, see C:\\\n\"DIST\"=hex(1):\n");
         }),
         {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: DIST\n" + kOk, 0},
        {"a name holding a NUL is shown whole", both(primIsPrimary, [](TempWorld& w) { primLists(w, "\"A\\x00B\"=hex(1):\n"); }),
         {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: " + std::string("A\0B", 3) + "\n" + kOk, 0},
        {"ld of an empty list", both(primIsPrimary, [](TempWorld& w) { primLists(w, ""); }), {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n             No attached servers\n" + kOk, 0},
        {"ld without a record", [](TempWorld& w) {
             w.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
             primLists(w, "\"DIST\"=hex(1):\n");
             w.write("ALPHA/faults", "readRecord 2\n");
         },
         {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is not a secondary or primary.\n      attached server: DIST\n" + kOk,
         0},
        {"ld when every step fails", both(twoAttached, [](TempWorld& w) { w.write("PRIM/faults", "RegEnumValueA 1010\n"); }),
         {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: \n", 1010 & 0xFF},
        {"ld ends at the first step that fails", both(twoAttached, [](TempWorld& w) { w.write("PRIM/faults", "RegEnumValueA 1010 2\n"); }),
         {"ld", "PRIM"}, {},
         "List all distributed servers for PRIM.\nPRIM is a primary.\n      attached server: DIST\n      attached server: \n",
         1010 & 0xFF},
        {"lp of a primary", twoAttached, {"lp", "PRIM"}, {}, "List the primary of PRIM.\nPRIM is a primary.\n" + kOk, 0},
        {"lp of a distributed server", twoAttached, {"lp", "DIST"}, {},
         "List the primary of DIST.\nDIST is attached to PRIM.\n" + kOk, 0},
        {"lp without a record", [](TempWorld& w) { w.storeRecord("OTHER", "OTHER", "oadmin", "osecret", 0);
             w.write("ALPHA/faults", "readRecord 2\n"); },
         {"lp", "OTHER"}, {}, "List the primary of OTHER.\nOTHER is not a secondary or primary.\n", 2},
        {"lp names differing in case only", [](TempWorld& w) { w.storeRecord("PRIM", "prim", "admin", "psecret", 0); },
         {"lp", "PRIM"}, {}, "List the primary of PRIM.\nPRIM is attached to prim.\n" + kOk, 0},
        {"lp with Esc", nullptr, {"lp", "PRIM"}, {"\x1b"},
         "List the primary of PRIM.\n Press <Esc> to quit \nPRIM : Username = ", 234},
        {"lp offline", [](TempWorld& w) { w.storeRecord("DOWN", "DOWN", "admin", "psecret", 0); }, {"lp", "DOWN"}, {},
         "List the primary of DOWN.\n" + error(kNoPath, kFailed), 53},
    });
}

// ---- rd, frd, rp ------------------------------------------------------------

TEST(RemoveDistributed, Rows) {
    auto attached = [](TempWorld& w) {
        primIsPrimary(w);
        distOfPrim(w);
        primLists(w, "\"DIST\"=hex(1):\n\"ZED\"=hex(1):\n");
    };
    auto notListed = [](TempWorld& w) {
        primIsPrimary(w);
        distOfPrim(w);
        primLists(w, "\"ZED\"=hex(1):\n");
    };
    const std::string head = "Removing DIST from PRIM .\n";
    const std::string repair = error(kNotFound, kFail) + error(kNotFound, kFail) +
                               "Check PRIM: could not find DIST in list of attached servers\n"
                               " Use frs command if you still want to remove\n";
    runRows({
        {"detached", attached, {"rd", "prim", "dist"}, {}, head + kOk, 0,
         both(noRecord("DIST"), hiveHas("PRIM", kListPath + "\"ZED\"=hex(1):\n\n"))},
        {"a name listed twice goes with both its lines", both(attached, [](TempWorld& w) {
             primLists(w, "\"DIST\"=hex(1):\n\"ZED\"=hex(1):\n\"Dist\"=hex(1):\n");
         }),
         {"rd", "PRIM", "DIST"}, {}, head + kOk, 0, hiveHas("PRIM", kListPath + "\"ZED\"=hex(1):\n\n")},
        {"not in the list: the record is written back", notListed, {"rd", "PRIM", "DIST"}, {}, head + repair, 2,
         recordIs("DIST", "PRIM", 1, "dadmin", "dsecret")},
        {"the write-back fails too", both(notListed, [](TempWorld& w) { w.write("ALPHA/faults", "writeRecord 1013\n"); }),
         {"rd", "PRIM", "DIST"}, {},
         head + repair + error(kCantWrite, kFail) + "Inconsistancy: DIST was removed but could be still in list of PRIM\n",
         2, noRecord("DIST")},
        {"no record", primIsPrimary, {"rd", "PRIM", "DIST"}, {kDistTyped}, head + prompt("DIST") + "DIST is not attached\n", 2},
        {"attached elsewhere", both(otherIsPrimary, [](TempWorld& w) {
             primIsPrimary(w);
             w.storeRecord("DIST", "OTHER", "dadmin", "dsecret", 1);
         }),
         {"rd", "PRIM", "DIST"}, {}, head + "DIST is not attached to PRIM\n", 5,
         recordIs("DIST", "OTHER", 1, "dadmin", "dsecret")},
        {"a primary given as distributed", both(primIsPrimary, otherIsPrimary), {"rd", "PRIM", "OTHER"}, {},
         "Removing OTHER from PRIM .\nOTHER is not attached to PRIM\n", 5},
        {"failed delete", both(attached, [](TempWorld& w) { w.write("ALPHA/faults", "deleteRecord 1013\n"); }),
         {"rd", "PRIM", "DIST"}, {}, head + error(kCantWrite, kFail), 245,
         both(recordIs("DIST", "PRIM", 1, "dadmin", "dsecret"), hiveHas("PRIM", "\"DIST\""))},
        {"Esc at the primary's prompt", distOfPrim, {"rd", "PRIM", "DIST"}, {"\x1b"},
         head + " Press <Esc> to quit \nPRIM : Username = ", 234, traceHas("WNetCancelConnection2A \\\\DIST\\ipc$ -> 0")},
        {"the distributed server cannot be reached: nothing changes", both(attached, [](TempWorld& w) {
             w.write("DIST/offline", "");
         }),
         {"rd", "PRIM", "DIST"}, {}, head + error(kNoPath, kFailed), 53,
         both(recordIs("DIST", "PRIM", 1, "dadmin", "dsecret"), hiveHas("PRIM", "\"DIST\""))},
        {"works without a record of the primary", [](TempWorld& w) {
             distOfPrim(w);
             primLists(w, "\"DIST\"=hex(1):\n");
         },
         {"rd", "PRIM", "DIST"}, {kPrimTyped}, head + prompt("PRIM") + kOk, 0, noRecord("DIST")},
    });
}

TEST(ForceRemove, Rows) {
    runRows({
        {"one name", distOfPrim, {"frd", "dist"}, {}, "Force the Removing of DIST .\n" + kOk, 0, noRecord("DIST")},
        {"two names: only the second is touched", both(primIsPrimary, distOfPrim), {"frd", "prim", "dist"}, {},
         "Force the Removing of DIST from PRIM .\n" + kOk, 0,
         both(noRecord("DIST"), [](TempWorld& w) { EXPECT_FALSE(contains(w.trace(), "PRIM")); })},
        {"a primary's record goes too, its list stays",
         both(primIsPrimary, [](TempWorld& w) { primLists(w, "\"DIST\"=hex(1):\n"); }), {"frd", "PRIM"}, {},
         "Force the Removing of PRIM .\n" + kOk, 0, both(noRecord("PRIM"), hiveHas("PRIM", "\"DIST\""))},
        {"no record", nullptr, {"frd", "DIST"}, {kDistTyped},
         "Force the Removing of DIST .\n" + prompt("DIST") + "DIST is not attached\n", 2},
        {"failed delete", both(distOfPrim, [](TempWorld& w) { w.write("ALPHA/faults", "deleteRecord 1013\n"); }),
         {"frd", "DIST"}, {}, "Force the Removing of DIST .\n" + error(kCantWrite, kFail), 245},
        {"Esc", nullptr, {"frd", "DIST"}, {"\x1b"}, "Force the Removing of DIST .\n Press <Esc> to quit \nDIST : Username = ",
         234},
    });
}

// After rd could not find the server in the list, frd removes the record and a
// later md of the same pair succeeds.
TEST(ForceRemove, RepairsWhatRdLeft) {
    TempWorld world;
    network(world);
    primIsPrimary(world);
    distOfPrim(world);
    primLists(world, "");
    EXPECT_EQ(runVeskCfg({"rd", "PRIM", "DIST"}).status, 2);
    EXPECT_EQ(runVeskCfg({"frd", "PRIM", "DIST"}).out, "Force the Removing of DIST from PRIM .\n" + kOk);
    RunOptions typed;
    typed.keys = {kDistTyped};
    RunResult md = runVeskCfg({"md", "PRIM", "DIST"}, typed);
    EXPECT_EQ(md.out, "Assigning DIST to PRIM.\n" + prompt("DIST") + "PRIM is a primary.\n" + kOk);
    EXPECT_EQ(md.status, 0);
    EXPECT_EQ(world.connections(), "");
}

TEST(RemovePrimary, Rows) {
    runRows({
        {"still has servers", both(primIsPrimary, [](TempWorld& w) { primLists(w, "\"DIST\"=hex(1):\n"); }),
         {"rp", "prim"}, {},
         "Removing PRIM primary.\nPRIM is a primary.\n      attached server: DIST\n"
         "PRIM has distributed servers and can not be removed.\n",
         5, recordIs("PRIM", "PRIM", 0, "admin", "psecret")},
        {"empty list", both(primIsPrimary, [](TempWorld& w) { primLists(w, ""); }), {"rp", "PRIM"}, {},
         "Removing PRIM primary.\nPRIM is a primary.\n" + kOk, 0, both(noRecord("PRIM"), hiveHas("PRIM", kListPath))},
        {"no list", primIsPrimary, {"rp", "PRIM"}, {},
         "Removing PRIM primary.\nPRIM is a primary.\n             No Attached Distributed Servers\n" + kOk, 0,
         noRecord("PRIM")},
        {"a distributed server", both(primIsPrimary, distOfPrim), {"rp", "DIST"}, {},
         "Removing DIST primary.\nDIST is attached to PRIM.\n", 5, recordIs("DIST", "PRIM", 1, "dadmin", "dsecret")},
        {"no record", nullptr, {"rp", "PRIM"}, {kPrimTyped},
         "Removing PRIM primary.\n" + prompt("PRIM") + error(kNotFound, kFail), 2},
        {"cannot be reached: nothing changes",
         both(primIsPrimary, [](TempWorld& w) { primLists(w, ""); w.write("PRIM/offline", ""); }), {"rp", "PRIM"}, {},
         "Removing PRIM primary.\n" + error(kNoPath, kFailed), 53, recordIs("PRIM", "PRIM", 0, "admin", "psecret")},
        {"a list that cannot be walked counts as not empty",
         both(primIsPrimary, [](TempWorld& w) { primLists(w, ""); w.write("PRIM/faults", "RegEnumValueA 1010\n"); }),
         {"rp", "PRIM"}, {},
         "Removing PRIM primary.\nPRIM is a primary.\n      attached server: \n"
         "PRIM has distributed servers and can not be removed.\n",
         5},
    });
}

// ---- cc ---------------------------------------------------------------------

TEST(ChangeCredentials, Rows) {
    const std::string shown = "Changing credentials for PRIM.\n\nPRIM : Username = admin\nPRIM : Password = *******"
                              "\n Enter the new credentials for PRIM\n";
    runRows({
        {"no stored record: no prompt", nullptr, {"cc", "PRIM"}, {},
         "Changing credentials for PRIM.\n\nPRIM is not a Primary or Distributed server\n" + error(kNotFound, kFail), 2},
        {"changed", primIsPrimary, {"cc", "prim"}, {"newadmin\rn3w\r"}, shown + prompt("PRIM") + kOk, 0,
         recordIs("PRIM", "PRIM", 0, "newadmin", "n3w"), "newadmin\r\n***\r\n"},
        {"Esc", primIsPrimary, {"cc", "PRIM"}, {"new\x1b"}, shown + " Press <Esc> to quit \nPRIM : Username = ", 234,
         recordIs("PRIM", "PRIM", 0, "admin", "psecret")},
        {"rejected credentials", primIsPrimary, {"cc", "PRIM"}, {"newadmin\rbad\r"},
         shown + prompt("PRIM") + error(kLogon, kFail), 46, recordIs("PRIM", "PRIM", 0, "admin", "psecret")},
        {"a conflicting connection is replaced",
         both(primIsPrimary, [](TempWorld& w) { w.write("ALPHA/connections", "\\\\PRIM\\ipc$ admin\n"); }),
         {"cc", "PRIM"}, {"newadmin\rn3w\r"}, shown + prompt("PRIM") + kOk, 0,
         traceHas("WNetAddConnection2A \\\\PRIM\\ipc$ newadmin -> 1219\nWNetCancelConnection2A \\\\PRIM\\ipc$ -> 0\n"
                  "WNetAddConnection2A \\\\PRIM\\ipc$ newadmin -> 0\n")},
        {"failed write", both(primIsPrimary, [](TempWorld& w) { w.write("ALPHA/faults", "writeRecord 1013\n"); }),
         {"cc", "PRIM"}, {"newadmin\rn3w\r"},
         shown + prompt("PRIM") + " Could not write the new credentials for PRIM" + error(kCantWrite, kFail), 245,
         recordIs("PRIM", "PRIM", 0, "admin", "psecret")},
        {"isDistributed follows primaryName", [](TempWorld& w) { w.storeRecord("DIST", "PRIM", "dadmin", "dsecret", 0); },
         {"cc", "DIST"}, {"dadmin\rdsecret\r"},
         "Changing credentials for DIST.\n\nDIST : Username = dadmin\nDIST : Password = *******"
         "\n Enter the new credentials for DIST\n" + prompt("DIST") + kOk,
         0, recordIs("DIST", "PRIM", 1, "dadmin", "dsecret")},
        {"a password the whole stored field long (24 bytes, no NUL) shows a star each",
         [](TempWorld& w) { w.storeRecord("OTHER", "OTHER", "oadmin", "abcdefghijklmnopqrstuvwx", 0); }, {"cc", "OTHER"},
         {"oadmin\rosecret\r"},
         "Changing credentials for OTHER.\n\nOTHER : Username = oadmin\nOTHER : Password = ************************"
         "\n Enter the new credentials for OTHER\n" + prompt("OTHER") + kOk,
         0},
        {"an empty password shows no stars", [](TempWorld& w) { w.storeRecord("OTHER", "OTHER", "oadmin", "", 0); },
         {"cc", "OTHER"}, {"oadmin\rosecret\r"},
         "Changing credentials for OTHER.\n\nOTHER : Username = oadmin\nOTHER : Password = "
         "\n Enter the new credentials for OTHER\n" + prompt("OTHER") + kOk,
         0},
    });
}

// A long name fits the remote name: nothing is cut and nothing overruns.
TEST(ChangeCredentials, LongServerName) {
    TempWorld world;
    const std::string name = "VERYLONGSERVERNAME20";
    world.addComputer(name, {"admin:pw"});
    world.storeRecord(name, name, "admin", "pw", 0);
    RunOptions typed;
    typed.keys = {"admin\rpw\r"};
    RunResult run = runVeskCfg({"cc", name}, typed);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(world.trace(), "WNetAddConnection2A \\\\" + name + "\\ipc$ admin -> 0"));
}

// ---- hostile files, names and disks ---------------------------------------

// A file outside the world that planted links point at: it must stay as it is.
struct Outside {
    std::string path = "/tmp/veskcfg-outside-" + std::to_string(getpid());
    Outside() {
        std::ofstream(path) << "not yours";
        chmod(path.c_str(), 0644);
    }
    ~Outside() {
        std::remove(path.c_str());
        std::remove((path + ".made").c_str());
    }
    bool untouched() const {
        struct stat info;
        std::ifstream file(path);
        std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        return content == "not yours" && stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0644 &&
               stat((path + ".made").c_str(), &info) != 0;
    }
};

auto plantLink(const std::string& target, const std::string& at) {
    return [=](TempWorld& w) { ASSERT_EQ(symlink(target.c_str(), (w.root() + "/" + at).c_str()), 0); };
}

TEST(Hostile, Files) {
    Outside outside;
    auto isUntouched = [&](TempWorld&) { EXPECT_TRUE(outside.untouched()); };
    const std::string refused = "Could not load Quenbase.dll: the registry of ALPHA cannot be read (error 5) .\n";
    std::vector<Row> rows = {
        {"a link planted as a temporary file is removed, not followed", plantLink(outside.path, "ALPHA/hklm.reg.tmp.4242"),
         {"mp", "PRIM"}, {kPrimTyped}, "Making PRIM a primary.\n" + prompt("PRIM") + kOk, 0,
         both(isUntouched, [](TempWorld& w) { EXPECT_FALSE(w.exists("ALPHA/hklm.reg.tmp.4242")); })},
        {"a hive that is a link is refused", plantLink(outside.path, "ALPHA/hklm.reg"), {"lp", "PRIM"}, {}, refused, 5,
         isUntouched, "-", true, {}, "VeskCfg: <world>/ALPHA/hklm.reg is a symbolic link; world files are never opened through one.\n"},
        {"a hive that is a FIFO is refused at once", [](TempWorld& w) { ASSERT_EQ(mkfifo((w.root() + "/ALPHA/hklm.reg").c_str(), 0600), 0); },
         {"lp", "PRIM"}, {}, refused, 5, nullptr, "-", true, {},
         "VeskCfg: <world>/ALPHA/hklm.reg is not a regular file; world files are never read from anything else.\n"},
        {"a hive of 4 GiB is refused, and said why", [](TempWorld& w) { w.write("ALPHA/hklm.reg", ""); ASSERT_EQ(truncate((w.root() + "/ALPHA/hklm.reg").c_str(), 4LL << 30), 0); },
         {"lp", "PRIM"}, {}, "Could not load Quenbase.dll: the registry of ALPHA cannot be read (error 1009) .\n", 1009 & 0xFF,
         nullptr, "-", true, {},
         "VeskCfg: <world>/ALPHA/hklm.reg holds 4294967296 bytes; a registry file must stay under 4 GiB, and every call on it fails with 1009.\n"},
        {"a lock that is a link is refused", plantLink(outside.path + ".made", "ALPHA/lock"), {"lp", "PRIM"}, {}, refused,
         5, isUntouched, "-", true, {}, "VeskCfg: <world>/ALPHA/lock is a symbolic link; world files are never opened through one.\n"},
        {"a world others may change is refused, and nothing made in it", [](TempWorld& w) { chmod(w.root().c_str(), 0777); },
         {"lp", "PRIM"}, {}, refused, 5, [](TempWorld& w) { EXPECT_FALSE(w.exists("ALPHA/console.lock")); }, "-", true, {},
         "VeskCfg: <world> can be changed by other users (chmod go-w); it is refused.\n"},
        {"a temporary file a killed run left is removed", [](TempWorld& w) { w.write("ALPHA/connections.tmp.Xy12Ab", "x"); },
         {"mp", "PRIM"}, {kPrimTyped}, "Making PRIM a primary.\n" + prompt("PRIM") + kOk, 0,
         [](TempWorld& w) { EXPECT_FALSE(w.exists("ALPHA/connections.tmp.Xy12Ab")); }},
    };
    if (geteuid() == 0) {
        rows.push_back({"a computer folder of another user is refused",
                        [](TempWorld& w) { ASSERT_EQ(chown(w.folder("PRIM").c_str(), 65534, 65534), 0); },
                        {"mp", "PRIM"}, {kPrimTyped}, "Making PRIM a primary.\n" + prompt("PRIM") + error(kDenied, kFailed),
                        5, noRecord("PRIM"), "-", true, {},
                        "VeskCfg: <world>/PRIM belongs to another user; it is refused.\n"});
    }
    runRows(rows);
}

TEST(Hostile, Names) {
    const std::string kanji = "X\x95\x5cY";  // a trail byte that is a backslash
    auto nothingLoaded = [](TempWorld& w) { EXPECT_FALSE(w.exists("ALPHA/hklm.reg")); };
    auto controlRefused = [](const char* byte) {
        return std::string("VeskCfg: a server name cannot hold control characters; this one holds byte ") + byte + ".\n";
    };
    const std::string badComputer =
        "is not a computer name: it holds \"..\", a slash, a backslash or a control character.\n";
    runRows({
        {"a line feed in a name", nullptr, {"mp", "A\nB"}, {}, "", 123, nothingLoaded, "-", true, {}, controlRefused("0x0A")},
        {"an escape sequence in a name", nullptr, {"md", "PRIM", "\x1b[2J"}, {}, "", 123, nothingLoaded, "-", true, {},
         controlRefused("0x1B")},
        {"a DEL in a name", nullptr, {"lp", "A\x7f"}, {}, "", 123, nothingLoaded, "-", true, {}, controlRefused("0x7F")},
        {"a computer name that leads out of the world", nullptr, {"lp", "PRIM"}, {},
         "Could not load Quenbase.dll: the registry of  cannot be read (error 123) .\n", 123,
         [](TempWorld& w) { EXPECT_FALSE(w.exists("../outside")); }, "-", true, {{"VESKCFG_COMPUTERNAME", "../outside"}},
         "VeskCfg: VESKCFG_COMPUTERNAME=\"../outside\" " + badComputer},
        {"a computer name with a backslash", nullptr, {"lp", "PRIM"}, {},
         "Could not load Quenbase.dll: the registry of  cannot be read (error 123) .\n", 123, nullptr, "-", true,
         {{"VESKCFG_COMPUTERNAME", "A\\B"}}, "VeskCfg: VESKCFG_COMPUTERNAME=\"A\\B\" " + badComputer},
        {"code page 932: a trail byte is no separator", [&](TempWorld& w) { w.addComputer(kanji, {"admin:pw"}); },
         {"mp", "x\x95\x5cy"}, {"admin\rpw\r"}, "Making " + kanji + " a primary.\n" + prompt(kanji) + kOk, 0,
         hiveHas("ALPHA", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers\\" + kanji + "\\Vesklane]\n"), "-", true,
         {{"VESKCFG_CODEPAGE", "932"}}},
        {"a name with a blank is connected and cancelled", [](TempWorld& w) { w.addComputer("A B", {"admin:pw"}); },
         {"mp", "a b"}, {"admin\rpw\r"}, "Making A B a primary.\n" + prompt("A B") + kOk, 0,
         traceHas("WNetCancelConnection2A \\\\A B\\ipc$ -> 0")},
    });
}

// A full disk and a read-only one, on a small file system of the test's own
// (mounting needs root); what was there before stays whole.
TEST(Hostile, FullOrReadOnlyDisk) {
    TempWorld world;
    std::string disk = world.root() + "/disk";
    mkdir(disk.c_str(), 0700);
    if (mount("veskcfg", disk.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    for (const char* folder : {"/ALPHA", "/PRIM"}) mkdir((disk + folder).c_str(), 0700);
    std::ofstream(disk + "/PRIM/accounts") << "admin:psecret\n";
    std::ofstream(disk + "/ALPHA/connections") << "";
    const std::string store = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers]\n\n";
    std::ofstream(disk + "/ALPHA/hklm.reg") << store;
    {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        std::string block(1024, 'x');
        for (int i = 0; i < 256 && filler.write(block.data(), block.size()); ++i) filler.flush();
    }
    struct DiskRow {
        const char* name;
        unsigned long flags;
        std::string text;
        int status;
    };
    const DiskRow rows[] = {
        {"full", 0, "There is not enough space on the disk.", 112},
        {"read-only", MS_REMOUNT | MS_RDONLY, "The media is write protected.", 19},
    };
    for (const DiskRow& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.flags) {
            ASSERT_EQ(mount("veskcfg", disk.c_str(), "tmpfs", row.flags, "size=64k,mode=0700"), 0);
        }
        RunOptions options;
        options.keys = {kPrimTyped};
        options.environment = {{"VESKCFG_WORLD", disk}};
        RunResult run = runVeskCfg({"mp", "PRIM"}, options);
        EXPECT_EQ(run.out, "Making PRIM a primary.\n" + prompt("PRIM") + error(row.text, kFailed));
        EXPECT_EQ(run.status, row.status);
        std::ifstream connections(disk + "/ALPHA/connections");
        EXPECT_EQ(connections.peek(), std::char_traits<char>::eof());
        std::ifstream hive(disk + "/ALPHA/hklm.reg");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(hive), std::istreambuf_iterator<char>()), store);
    }
    umount(disk.c_str());
}

}  // namespace
