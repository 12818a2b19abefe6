// vesknet makes a world, fills it with VeskCfg, finds it broken after a
// failed rollback, shows it as JSON and draws it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"

namespace {

RunResult vesknet(const std::vector<std::string>& arguments) { return runVeskCfg(VESKNET_BINARY, arguments); }

RunResult veskcfg(const std::vector<std::string>& arguments, const std::vector<std::string>& keys = {}) {
    RunOptions options;
    options.keys = keys;
    return runVeskCfg(VESKCFG_BINARY, arguments, options);
}

TEST(Vesknet, MakesFillsFindsBrokenShowsAndDraws) {
    TempWorld scratch;  // only for its folder
    const std::string world = scratch.root() + "/net";
    setenv("VESKCFG_WORLD", world.c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
    ASSERT_EQ(vesknet({"init"}).status, 0);
    struct stat info;
    ASSERT_EQ(stat(world.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(vesknet({"add", "PRIM", "--account", "admin:psecret"}).status, 0);
    ASSERT_EQ(vesknet({"add", "DIST", "--account", "dadmin:dsecret"}).status, 0);
    ASSERT_EQ(vesknet({"add", "NEW", "--account", "dadmin:dsecret"}).status, 0);
    EXPECT_EQ(vesknet({"fault", "PRIM", "RegSetValueExB", "1013"}).status, 2);  // no such call

    ASSERT_EQ(veskcfg({"mp", "PRIM"}, {"admin\rpsecret\r"}).status, 0);
    ASSERT_EQ(veskcfg({"md", "PRIM", "DIST"}, {"dadmin\rdsecret\r"}).status, 0);
    RunResult consistent = vesknet({"check"});
    EXPECT_EQ(consistent.status, 0) << consistent.out;

    // The list cannot be changed and the rollback cannot delete: NEW's record
    // is left without its list entry.
    ASSERT_EQ(vesknet({"fault", "PRIM", "RegSetValueExA", "1013"}).status, 0);
    ASSERT_EQ(vesknet({"fault", "CONSOLE", "deleteRecord", "1013", "1"}).status, 0);
    EXPECT_EQ(veskcfg({"md", "PRIM", "NEW"}, {"dadmin\rdsecret\r"}).status, 1013 & 0xFF);
    ASSERT_EQ(vesknet({"fault", "PRIM", "--clear"}).status, 0);
    ASSERT_EQ(vesknet({"fault", "CONSOLE", "--clear"}).status, 0);
    RunResult broken = vesknet({"check"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out, "NEW's record names PRIM, which does not list it; mend: VeskCfg frd PRIM NEW\n");

    RunResult shown = vesknet({"show", "--json"});
    ASSERT_EQ(shown.status, 0);
    nlohmann::json network = nlohmann::json::parse(shown.out);
    EXPECT_EQ(network["console"], "CONSOLE");
    std::map<std::string, nlohmann::json> computers;
    for (const auto& computer : network["computers"]) computers[computer["name"]] = computer;
    EXPECT_EQ(computers["PRIM"]["list"], nlohmann::json::array({"DIST"}));
    EXPECT_EQ(computers["NEW"]["role"], "distributed");
    EXPECT_EQ(computers["DIST"]["storedAccount"], "dadmin");
    EXPECT_EQ(shown.out.find("dsecret"), std::string::npos);  // never a password

    EXPECT_EQ(vesknet({"show"}).out.find("faults:"), std::string::npos);  // none left: no line for them
    RunResult drawn = vesknet({"graph"});
    EXPECT_NE(drawn.out.find("  \"PRIM\" [penwidth=2];\n"), std::string::npos) << drawn.out;  // a primary stands out
    EXPECT_EQ(drawn.out.find("\"DIST\" [penwidth"), std::string::npos) << drawn.out;
    EXPECT_NE(drawn.out.find("\"PRIM\" -> \"NEW\" [color=red"), std::string::npos) << drawn.out;
    EXPECT_NE(drawn.out.find("\"PRIM\" -> \"DIST\";"), std::string::npos) << drawn.out;
    if (system("command -v dot >/dev/null") == 0) {
        // The file's name reaches dot as it is: no shell reads it.
        const std::string picture = world + "/net'$(touch ran).svg";
        ASSERT_EQ(vesknet({"graph", "--format", "svg", "-o", picture}).status, 0);
        EXPECT_FALSE(std::ifstream("ran").good());
        std::ifstream svg(picture);
        std::stringstream text;
        text << svg.rdbuf();
        EXPECT_NE(text.str().find("<svg"), std::string::npos);
    }
    // A dot that fails is said, and vesknet fails with it.
    mkdir((world + "/bin").c_str(), 0700);
    std::ofstream(world + "/bin/dot") << "#!/bin/sh\ncat >/dev/null\nexit 1\n";
    chmod((world + "/bin/dot").c_str(), 0700);
    RunOptions failingDot;
    failingDot.environment = {{"PATH", world + "/bin:" + std::getenv("PATH")}};
    RunResult undrawn = runVeskCfg(VESKNET_BINARY, {"graph", "--format", "svg", "-o", world + "/x.svg"}, failingDot);
    EXPECT_EQ(undrawn.status, 2);
    EXPECT_EQ(undrawn.err, "vesknet: Graphviz's dot failed to write " + world + "/x.svg\n");
    std::remove((world + "/bin/dot").c_str());
    rmdir((world + "/bin").c_str());

    // A list kept by a server that is no primary is a finding of its own.
    std::ofstream(world + "/DIST/hklm.reg")
        << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n\"NEW\"=hex(1):\n";
    RunResult misplaced = vesknet({"check"});
    EXPECT_EQ(misplaced.status, 1);
    EXPECT_NE(misplaced.out.find("DIST lists distributed servers but has no primary record (distributed); mend: "
                                 "VeskCfg frd DIST, then VeskCfg mp DIST\n"),
              std::string::npos)
        << misplaced.out;

    // A record too large to read, which frd will not delete: its value goes by hand.
    std::string bytes = "00";
    for (int i = 1; i < 80; ++i) bytes += ",00";
    std::ofstream(world + "/CONSOLE/hklm.reg", std::ios::app)
        << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers\\BIG\\Vesklane]\n\"Slot_1\"=hex:" << bytes << "\n"
        << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers\\BARE]\n";  // a server's key without its record's
    ASSERT_EQ(vesknet({"add", "BIG", "--account", "badmin:bsecret"}).status, 0);
    RunResult refused = veskcfg({"frd", "BIG"}, {"badmin\rbsecret\r"});
    EXPECT_TRUE(refused.out.ends_with("BIG is not attached\n")) << refused.out;
    EXPECT_EQ(refused.status, 234);
    RunResult tooLarge = vesknet({"check"});
    EXPECT_NE(tooLarge.out.find("BIG's role record cannot be read; mend: delete Slot_1 of [HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                                "Tallmere\\Servers\\BIG\\Vesklane] from " + world + "/CONSOLE/hklm.reg by hand (frd "
                                "reads a record before it deletes it)\n"),
              std::string::npos)
        << tooLarge.out;
    EXPECT_EQ(vesknet({"graph"}).out.find("-> \"BIG\""), std::string::npos);  // a record not read draws no edge
}

TEST(Vesknet, SaysWhatIsWrong) {
    TempWorld scratch;
    const std::string missing = scratch.root() + "/nowhere";
    setenv("VESKCFG_WORLD", missing.c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
    RunResult lost = veskcfg({"lp", "PRIM"});
    EXPECT_EQ(lost.status, 3);
    EXPECT_EQ(lost.err, "VeskCfg: VESKCFG_WORLD=\"" + missing + "\" names no folder; make the world first (vesknet init).\n");
    EXPECT_FALSE(scratch.exists("nowhere"));
    EXPECT_EQ(vesknet({"show"}).status, 2);
    for (const char* command : {"init", "add", "offline", "online", "fault", "show", "check", "graph"})
        EXPECT_EQ(vesknet({command, "--help"}).status, 0) << command;
    // A computer whose lock is a link elsewhere is changed by nobody.
    setenv("VESKCFG_WORLD", (scratch.root() + "/net").c_str(), 1);
    ASSERT_EQ(vesknet({"init"}).status, 0);
    ASSERT_EQ(vesknet({"add", "PRIM"}).status, 0);
    std::remove((scratch.root() + "/net/PRIM/lock").c_str());
    ASSERT_EQ(symlink((scratch.root() + "/elsewhere").c_str(), (scratch.root() + "/net/PRIM/lock").c_str()), 0);
    RunResult unlocked = vesknet({"offline", "PRIM"});
    EXPECT_EQ(unlocked.status, 2);
    EXPECT_NE(unlocked.err.find("PRIM: cannot be locked (error 5)"), std::string::npos) << unlocked.err;
    EXPECT_FALSE(scratch.exists("net/PRIM/offline"));
    // Links that lead nowhere are no computers, wherever the folder lists them.
    for (const char* ghost : {"GHOST1", "GHOST2", "GHOST3", "GHOST4"})
        ASSERT_EQ(symlink((scratch.root() + "/nowhere").c_str(), (scratch.root() + "/net/" + ghost).c_str()), 0);
    RunResult shown = vesknet({"show"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out.find("GHOST"), std::string::npos) << shown.out;
}

// A script that closed its standard input: the world's commands lock and
// write as ever, whichever descriptor the lock gets.
TEST(Vesknet, ChangesTheWorldWithStandardInputClosed) {
    TempWorld scratch;
    setenv("VESKCFG_WORLD", (scratch.root() + "/net").c_str(), 1);
    RunOptions closed;
    closed.inputClosed = true;
    ASSERT_EQ(runVeskCfg(VESKNET_BINARY, {"init"}, closed).status, 0);
    RunResult added = runVeskCfg(VESKNET_BINARY, {"add", "PRIM"}, closed);
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(runVeskCfg(VESKNET_BINARY, {"offline", "PRIM"}, closed).status, 0);
    EXPECT_TRUE(scratch.exists("net/PRIM/offline"));
}

// Without VESKCFG_WORLD a first run makes the world where XDG_STATE_HOME
// says, with this computer's folder in it.
TEST(Vesknet, AFirstRunMakesTheDefaultWorld) {
    TempWorld scratch;
    RunOptions options;
    options.terminal = false;
    options.environment = {{"VESKCFG_WORLD", ""}, {"XDG_STATE_HOME", scratch.root() + "/state"}, {"VESKCFG_COMPUTERNAME", "ALPHA"}};
    RunResult first = runVeskCfg(VESKCFG_BINARY, {"lp", "ALPHA"}, options);
    EXPECT_EQ(first.status, 234) << first.err;
    EXPECT_TRUE(scratch.exists("state/veskcfg/world/ALPHA/hklm.reg"));
}

// A wrong command line, whatever CLI11 makes of it: one line that starts
// "vesknet: ", and 2, as the manual says.
TEST(Vesknet, WrongCommandLinesSayWhyAndExitWithTwo) {
    TempWorld world;
    setenv("VESKCFG_WORLD", world.root().c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
    const std::vector<std::vector<std::string>> kWrong = {
        {}, {"bogus"}, {"show", "--bogus"}, {"graph", "--format", "png"}, {"fault", "ALPHA", "RegCloseKey", "--clear"},
        {"add"}, {"fault", "ALPHA", "RegCloseKey", "five"},
        // A faults file's line holds no 0: VeskCfg would pass over it.
        {"fault", "ALPHA", "RegCloseKey", "0"}, {"fault", "ALPHA", "RegCloseKey", "5", "0"},
        {"fault", "ALPHA", "RegCloseKey", "4294967296"},
        {"--console", "A/B", "show"}, {"add", ""}, {"add", "A..B"},
    };
    for (const auto& arguments : kWrong) {
        RunResult wrong = vesknet(arguments);
        EXPECT_EQ(wrong.status, 2) << wrong.err;
        EXPECT_TRUE(wrong.err.starts_with("vesknet: ")) << wrong.err;
        EXPECT_EQ(std::count(wrong.err.begin(), wrong.err.end(), '\n'), 1) << wrong.err;
    }
    EXPECT_EQ(world.read("ALPHA/faults"), "");
    // A console name the environment gives is refused on one line too.
    setenv("VESKCFG_COMPUTERNAME", "A/B", 1);
    RunResult badConsole = vesknet({"show"});
    setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
    EXPECT_EQ(badConsole.status, 2);
    EXPECT_EQ(std::count(badConsole.err.begin(), badConsole.err.end(), '\n'), 1) << badConsole.err;
    RunResult version = vesknet({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vesknet 0.1\n");
}

// Names a hand-edited list may hold: an escape sequence, a line feed, a NUL,
// a byte of code page 1252. Text output shows them escaped and one line
// each, DOT keeps them whole, JSON holds them as UTF-8.
TEST(Vesknet, HostileNamesReachNoTerminalRaw) {
    TempWorld world;
    setenv("VESKCFG_WORLD", world.root().c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
    world.addComputer("PRIM");
    world.storeRecord("PRIM", "PRIM", "admin", "pw", 0);
    world.write("PRIM/hklm.reg",
                "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n"
                "\"E\\x1b]0;t\\x07\"=hex(1):\n\"L\\x0amend: rm\"=hex(1):\n\"N\\x00U\"=hex(1):\n\"caf\xe9\"=hex(1):\n");
    const std::vector<std::string> kNames = {"E\x1b]0;t\x07", "L\nmend: rm", std::string("N\0U", 3), "caf\xe9"};
    const std::vector<std::string> kShown = {"E\\x1b]0;t\\x07", "L\\x0amend: rm", "N\\x00U", "caf\xe9"};
    auto hasNoControl = [](const std::string& text) {
        return std::none_of(text.begin(), text.end(), [](char c) { return c != '\n' && (c >= 0 && c < 0x20); });
    };

    RunResult shown = vesknet({"show"});
    EXPECT_TRUE(hasNoControl(shown.out)) << shown.out;
    EXPECT_EQ(shown.out.find(" \n"), std::string::npos) << shown.out;  // no line ends in padding
    EXPECT_NE(shown.out.find(" lists: " + kShown[0] + ", " + kShown[1] + ", " + kShown[2] + ", " + kShown[3] + "\n"),
              std::string::npos)
        << shown.out;

    RunResult checked = vesknet({"check"});
    EXPECT_EQ(checked.status, 1);
    EXPECT_TRUE(hasNoControl(checked.out)) << checked.out;
    std::string expected;
    // In a mend each name is one word to a shell; a control character
    // still reaches no terminal.
    const std::vector<std::string> kQuoted = {"'E\\x1b]0;t\\x07'", "'L\\x0amend: rm'", "'N\\x00U'", "'caf\xe9'"};
    for (size_t i = 0; i < kShown.size(); ++i)
        expected += "PRIM lists " + kShown[i] + ", which has no role record; mend: VeskCfg md PRIM " + kQuoted[i] +
                    ", then VeskCfg rd PRIM " + kQuoted[i] + " if it should be detached\n";
    EXPECT_EQ(checked.out, expected);

    RunResult drawn = vesknet({"graph"});
    EXPECT_TRUE(hasNoControl(drawn.out)) << drawn.out;
    EXPECT_NE(drawn.out.find("\"PRIM\" -> \"N\\x00U\""), std::string::npos) << drawn.out;
    EXPECT_TRUE(drawn.out.ends_with("}\n"));

    RunResult json = vesknet({"show", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    nlohmann::json network = nlohmann::json::parse(json.out);
    for (const auto& computer : network["computers"]) {
        if (computer["name"] != "PRIM") continue;
        EXPECT_EQ(computer["list"], nlohmann::json({kNames[0], kNames[1], kNames[2], "caf\xc3\xa9"}));
    }
}

// Names on the command line and in text output are in the locale's
// character set, in the world in the code page; DOT is UTF-8, as Graphviz
// reads it, whatever the locale.
TEST(Vesknet, NamesInTheLocale) {
    TempWorld world;
    setenv("VESKCFG_WORLD", world.root().c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
    world.addComputer("PRIM");
    world.storeRecord("PRIM", "PRIM", "admin", "pw", 0);
    world.write("PRIM/hklm.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n"
                                 "\"\x81x\"=hex(1):\n");
    auto run = [](const char* locale, const std::vector<std::string>& arguments) {
        RunOptions options;
        options.environment = {{"LC_ALL", locale}};
        return runVeskCfg(VESKNET_BINARY, arguments, options);
    };
    ASSERT_EQ(run("C.UTF-8", {"add", "caf\xC3\xA9", "--account", "d\xC3\xA9:pw"}).status, 0);
    EXPECT_EQ(world.read("caf\xE9/accounts"), "d\xE9:pw\n");
    RunResult refused = run("C.UTF-8", {"add", "\xE6\x97\xA5"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "vesknet: a name holds U+65E5, which code page 1252 cannot hold\n");
    // The undefined byte 0x81 is a C1 control in UTF-8: escaped there.
    EXPECT_NE(run("C.UTF-8", {"show"}).out.find("\ncaf\xC3\xA9 "), std::string::npos);
    EXPECT_NE(run("C.UTF-8", {"show"}).out.find(" lists: \\x81x\n"), std::string::npos);
    EXPECT_NE(run("C", {"show"}).out.find("\ncaf\xE9 "), std::string::npos);
    EXPECT_NE(run("C", {"show"}).out.find(" lists: \x81x\n"), std::string::npos);
    for (const char* locale : {"C", "C.UTF-8"}) EXPECT_NE(run(locale, {"graph"}).out.find("\"caf\xC3\xA9\""), std::string::npos);
    // On a terminal, in the C locale too, the byte reaches it escaped.
    for (const char* locale : {"C", "C.UTF-8"}) {
        RunOptions options;
        options.outputOnTerminal = true;
        options.environment = {{"LC_ALL", locale}};
        RunResult shown = runVeskCfg(VESKNET_BINARY, {"show"}, options);
        EXPECT_FALSE(drivesTerminal(shown.echo)) << locale << ": " << shown.echo;
        EXPECT_NE(shown.echo.find(" lists: \\x81x"), std::string::npos) << shown.echo;
    }
    // A name code page 932 cannot read (a lead byte, and no more): JSON
    // gives U+FFFD for what does not convert, and the name's bytes beside.
    world.write("PRIM/hklm.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n"
                                 "\"x\x81\"=hex(1):\n");
    RunOptions cp932;
    cp932.environment = {{"VESKCFG_CODEPAGE", "932"}};
    nlohmann::json network = nlohmann::json::parse(runVeskCfg(VESKNET_BINARY, {"show", "--json"}, cp932).out);
    for (const auto& computer : network["computers"]) {
        if (computer["name"] != "PRIM") continue;
        EXPECT_EQ(computer["list"], nlohmann::json({"x\xEF\xBF\xBD"}));
        EXPECT_EQ(computer.value("listHex", nlohmann::json()), nlohmann::json({"7881"}));
    }
}

// The commands of a mend line, as a person pastes them: "VeskCfg A B, then
// VeskCfg C D if ..." gives "VeskCfg A B" and "VeskCfg C D"; a name in
// single quotes is one word whatever it holds.
std::vector<std::string> mendCommands(const std::string& line) {
    std::vector<std::string> commands;
    size_t start = line.find("; mend: ");
    if (start == std::string::npos) return commands;
    std::string mend = line.substr(start + 8), current;
    bool quoted = false;
    for (size_t at = 0; at < mend.size(); ++at) {
        if (!quoted && mend[at] == '\\' && at + 1 < mend.size()) {  // \' outside quotes: a quote of the name's
            current += mend.substr(at++, 2);
            continue;
        }
        if (mend[at] == '\'') quoted = !quoted;
        if (!quoted && mend.compare(at, 7, ", then ") == 0) {
            commands.push_back(current);
            current.clear();
            at += 6;
        } else if (!quoted && mend.compare(at, 4, " if ") == 0) {
            break;
        } else {
            current += mend[at];
        }
    }
    commands.push_back(current);
    return commands;
}

// Each mend line, its names from a list that holds a shell's metacharacters,
// pasted into sh -c: it runs VeskCfg with the names as they are, and
// nothing else.
TEST(Vesknet, MendLinesAreCommandsAShellRunsAsWritten) {
    TempWorld world;
    setenv("VESKCFG_WORLD", world.root().c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
    world.addComputer("PRIM");
    world.storeRecord("PRIM", "PRIM", "admin", "pw", 0);
    const std::vector<std::string> names = {"x; touch pwned #", "$(touch pwned)", "`touch pwned`", "a'b", "a b, then c",
                                            "*", "&& touch pwned", "-rf", ""};
    std::string list = "\"MOVED\"=hex(1):\n";  // listed, and its record names another primary
    for (const std::string& name : names) list += "\"" + name + "\"=hex(1):\n";
    world.write("PRIM/hklm.reg",
                "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n" + list);
    world.storeRecord("~$HOME", "PRIM", "a", "b", 1);  // a record whose primary does not list it
    world.storeRecord("MOVED", "OTHER", "a", "b", 1);
    // A VeskCfg that notes the arguments it was given, one a line, and a
    // folder in which anything else a command did would show.
    mkdir((world.root() + "/bin").c_str(), 0700);
    world.write("bin/VeskCfg", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >>\"$ARGUMENTS\"\n");
    chmod((world.root() + "/bin/VeskCfg").c_str(), 0700);
    mkdir((world.root() + "/cwd").c_str(), 0700);

    RunResult checked = vesknet({"check"});
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.out.find("PRIM lists MOVED, whose record names OTHER; mend: VeskCfg frd MOVED, then VeskCfg md "
                               "PRIM MOVED\n"), std::string::npos) << checked.out;
    EXPECT_NE(vesknet({"graph"}).out.find("  \"PRIM\" -> \"MOVED\" [color=red, fontcolor=red, style=dashed, "
                                          "label=\"listed only\"];\n"), std::string::npos);
    EXPECT_NE(checked.out.find("PRIM lists , which has no role record; mend: VeskCfg md PRIM '', then VeskCfg rd PRIM '' "
                               "if it should be detached\n"), std::string::npos) << checked.out;
    std::istringstream lines(checked.out);
    int pasted = 0;
    for (std::string line; std::getline(lines, line);) {
        for (const std::string& command : mendCommands(line)) {
            SCOPED_TRACE(command);
            const std::string arguments = world.root() + "/arguments";
            std::remove(arguments.c_str());
            std::string shell = "cd '" + world.root() + "/cwd' && ARGUMENTS='" + arguments + "' PATH='" + world.root() +
                                "/bin':/usr/bin:/bin sh -c \"$MEND\"";
            setenv("MEND", command.c_str(), 1);
            ASSERT_EQ(std::system(shell.c_str()), 0);
            ++pasted;
            // The words the line shows, as VeskCfg got them.
            std::istringstream got(world.read("arguments"));
            std::vector<std::string> words;
            for (std::string word; std::getline(got, word);) words.push_back(word);
            ASSERT_GE(words.size(), 2u);
            bool known = words.back() == "PRIM" || words.back() == "~$HOME" || words.back() == "MOVED" ||
                         std::find(names.begin(), names.end(), words.back()) != names.end();
            EXPECT_TRUE(known) << words.back();
            EXPECT_EQ(std::system(("test -z \"$(ls -A '" + world.root() + "/cwd')\"").c_str()), 0) << "it did more";
        }
    }
    std::printf("[ mends    ] %d commands of %zu mend lines pasted into sh -c\n", pasted,
                static_cast<size_t>(std::count(checked.out.begin(), checked.out.end(), '\n')));
    EXPECT_EQ(pasted, 2 * static_cast<int>(names.size()) + 4) << checked.out;  // ~$HOME 1, MOVED 3
    unsetenv("MEND");
}

// A hive that cannot be read, or parsed, is a finding, and says nothing
// about the records it would list; the console's own store makes the world
// unreadable.
TEST(Vesknet, UnreadableHivesAreFindings) {
    TempWorld world;
    setenv("VESKCFG_WORLD", world.root().c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
    world.addComputer("PRIM");
    world.addComputer("DIST");
    world.storeRecord("PRIM", "PRIM", "admin", "pw", 0);
    world.storeRecord("DIST", "PRIM", "admin", "pw", 1);
    ASSERT_EQ(mkfifo((world.root() + "/PRIM/hklm.reg").c_str(), 0600), 0);
    RunResult checked = vesknet({"check"});
    EXPECT_EQ(checked.status, 1);
    EXPECT_EQ(checked.out, world.root() + "/PRIM/hklm.reg cannot be read (error 5); mend: make it a regular file its "
                                          "owner may read, or restore it from a copy\n");
    std::remove((world.root() + "/PRIM/hklm.reg").c_str());
    world.write("PRIM/hklm.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n");
    checked = vesknet({"check"});
    EXPECT_EQ(checked.out, world.root() + "/PRIM/hklm.reg, line 3, cannot be parsed; mend: restore the file from a "
                                          "copy, or mend the line by hand\n");
    EXPECT_EQ(checked.status, 1);
    std::remove((world.root() + "/ALPHA/hklm.reg").c_str());
    ASSERT_EQ(mkfifo((world.root() + "/ALPHA/hklm.reg").c_str(), 0600), 0);
    EXPECT_EQ(vesknet({"check"}).status, 2);
}

}  // namespace
