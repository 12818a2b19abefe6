// vesknet makes a world, fills it with VeskCfg, finds it broken after a
// failed rollback, shows it as JSON and draws it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
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

    RunResult drawn = vesknet({"graph"});
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

    // A list kept by a server that is no primary is a finding of its own.
    std::ofstream(world + "/DIST/hklm.reg")
        << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n\"NEW\"=hex(1):\n";
    RunResult misplaced = vesknet({"check"});
    EXPECT_EQ(misplaced.status, 1);
    EXPECT_NE(misplaced.out.find("DIST lists distributed servers but has no primary record (distributed); mend: "
                                 "VeskCfg frd DIST, then VeskCfg mp DIST\n"),
              std::string::npos)
        << misplaced.out;
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
        {"--console", "A/B", "show"},
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
    for (const std::string& name : kShown)
        expected += "PRIM lists " + name + ", which has no role record; mend: VeskCfg md PRIM " + name +
                    ", then VeskCfg rd PRIM " + name + " if it should be detached\n";
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
}

// A hive that cannot be read is a finding, and says nothing about the
// records it would list; the console's own store makes the world unreadable.
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
    std::remove((world.root() + "/ALPHA/hklm.reg").c_str());
    ASSERT_EQ(mkfifo((world.root() + "/ALPHA/hklm.reg").c_str(), 0600), 0);
    EXPECT_EQ(vesknet({"check"}).status, 2);
}

}  // namespace
