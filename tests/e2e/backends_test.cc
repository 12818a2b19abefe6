// One table of command runs, held to the same expectations on both backends:
// the Linux program over the simulated network, and VeskCfg.exe under Wine
// over the real registry and console, with our test network provider as its
// mpr.dll. In both, the tool runs on the primary itself ({P} in the table),
// since Wine reaches no registry but its own.
//
// The Windows run is made when VESKCFG_WINDOWS_PROGRAM names the folder of
// VeskCfg.exe, its DLLs and the provider (the Windows build's ctest does so).
// Its output must be the Linux output with "\r\n" line ends and Wine's own
// system texts; its registry must hold what the Linux world holds for the
// same row; and no connection may be left.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/backend_domain.h"
#include "tests/support/backend_samba.h"
#include "tests/support/backend_wine.h"
#include "tests/support/backend_world.h"

namespace {

// ---- the table ----------------------------------------------------------------

struct Row {
    const char* name;
    Setup setup;
    std::vector<std::string> args;
    std::vector<std::string> keys;
    // Linux's output; {P} is the primary's name, {LIST} the attached-server
    // lines of the row's list in the backend's enumeration order.
    std::string out;
    long code;  // the result code
};

const std::string kOk = "Transaction OK!\n";

std::string error(const std::string& text, const std::string& context) {
    return "ERROR! " + text + "\r\n" + context + ".\n";
}

std::string prompt(const std::string& server) {
    return " Press <Esc> to quit \n" + server + " : Username = " + server + " : Password = ";
}


std::vector<std::string> manyNames() {
    std::vector<std::string> names;
    for (int i = 299; i >= 0; --i) names.push_back("S" + std::to_string(1000 + i));  // created in falling order
    return names;
}

const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
        {"mp", {}, {"mp", "{p}"}, {"admin\rpsecret\r"}, "Making {P} a primary.\n" + prompt("{P}") + kOk, 0},
        {"md", {{primary()}}, {"md", "{p}", "dist"}, {"dadmin\rdsecret\r"},
         "Assigning DIST to {P}.\n" + prompt("DIST") + "{P} is a primary.\n             No attached servers\n" + kOk, 0},
        {"ld of several hundred names", {{primary()}, manyNames()}, {"ld", "{P}"}, {},
         "List all distributed servers for {P}.\n{P} is a primary.\n{LIST}" + kOk, 0},
        {"lp", {{primary(), dist()}, {{"DIST"}}}, {"lp", "DIST"}, {}, "List the primary of DIST.\nDIST is attached to {P}.\n" + kOk, 0},
        {"rd", {{primary(), dist()}, {{"OLD", "DIST"}}}, {"rd", "{P}", "DIST"}, {}, "Removing DIST from {P} .\n" + kOk, 0},
        {"frd", {{dist()}}, {"frd", "DIST"}, {}, "Force the Removing of DIST .\n" + kOk, 0},
        {"frd of a pair", {{primary(), dist()}}, {"frd", "{P}", "DIST"}, {}, "Force the Removing of DIST from {P} .\n" + kOk, 0},
        {"rp", {{primary()}, {{}}}, {"rp", "{P}"}, {}, "Removing {P} primary.\n{P} is a primary.\n" + kOk, 0},
        {"cc", {{primary()}}, {"cc", "{P}"}, {"newadmin\rn3w\r"},
         "Changing credentials for {P}.\n\n{P} : Username = admin\n{P} : Password = *******\n Enter the new credentials for {P}\n" +
             prompt("{P}") + kOk,
         0},
        {"Esc at the prompt", {}, {"mp", "{P}"}, {"adm\x1b"}, "Making {P} a primary.\n Press <Esc> to quit \n{P} : Username = ", 1002},
        {"a wrong password", {}, {"mp", "{P}"}, {"admin\rwrong\r"},
         "Making {P} a primary.\n" + prompt("{P}") + error("The user name or password is incorrect.", "Failed During Transaction"),
         1326},
        {"a connection under another account: one forced cancel, one retry", {{}, {}, {"\\\\{P}\\ipc$ newadmin"}},
         {"mp", "{P}"}, {"admin\rpsecret\r"}, "Making {P} a primary.\n" + prompt("{P}") + kOk, 0},
        {"an unreachable server", {{{"DOWN", "DOWN", "admin", "psecret", 0}}}, {"lp", "DOWN"}, {},
         "List the primary of DOWN.\n" + error("The network path was not found.", "Failed During Transaction"), 53},
        {"a server that never answers: given up in seconds", {{{"SILENT", "SILENT", "admin", "psecret", 0}}},
         {"lp", "SILENT"}, {},
         "List the primary of SILENT.\n" + error("The network path was not found.", "Failed During Transaction"), 53},
        {"equal names", {}, {"md", "{P}", "{p}"}, {}, "You can not assign {P} to {P}.\n", 87},
        {"not a primary", {}, {"md", "OTHER", "DIST"}, {"dadmin\rdsecret\r", "oadmin\rosecret\r"},
         "Assigning DIST to OTHER.\n" + prompt("DIST") + prompt("OTHER") + "OTHER is not primary or distributed.\n" +
             error("The system cannot find the file specified.", "Fail During Transaction"),
         2},
        {"a primary with distributed servers", {{primary(), dist()}, {{"DIST"}}}, {"rp", "{P}"}, {},
         "Removing {P} primary.\n{P} is a primary.\n      attached server: DIST\n{P} has distributed servers and can not be removed.\n",
         5},
        {"rd of a name missing from the list: the record is written back", {{primary(), dist()}, {{"OLD"}}},
         {"rd", "{P}", "DIST"}, {},
         "Removing DIST from {P} .\n" + error("The system cannot find the file specified.", "Fail During Transaction") +
             error("The system cannot find the file specified.", "Fail During Transaction") +
             "Check {P}: could not find DIST in list of attached servers\n Use frs command if you still want to remove\n",
         2},
        {"an account that may log on but not write: the record is deleted again",
         {{{"{P}", "{P}", "reader", "rsecret", 0}}, {}, {}, true}, {"md", "{P}", "DIST"}, {"dadmin\rdsecret\r"},
         "Assigning DIST to {P}.\n" + prompt("DIST") + "{P} is a primary.\n             No attached servers\n" +
             error("Access is denied.", "Fail During Transaction") + error("Access is denied.", "Fail During Transaction"),
         5},
    };
    return table;
}

// ---- the runs --------------------------------------------------------------

struct Outcome {
    RunResult run;
    State state;
};

Outcome runRow(Backend& backend, const Row& row) {
    backend.setUp(row.setup);
    std::vector<std::string> args;
    for (const std::string& arg : row.args) args.push_back(backend.expand(arg, {}));
    Outcome outcome{backend.run(args, row.keys), {}};
    outcome.state = backend.state();
    return outcome;
}

void expectRow(const Backend& backend, const Row& row, const Outcome& outcome) {
    EXPECT_EQ(outcome.run.out, backend.asPrinted(backend.expand(row.out, row.setup)));
    EXPECT_EQ(outcome.run.status, backend.exitStatus(row.code));
    EXPECT_EQ(outcome.state.connections, "");
}

TEST(BothBackends, Linux) {
    LinuxBackend linux;
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        expectRow(linux, row, runRow(linux, row));
    }
}

TEST(BothBackends, WindowsUnderWine) {
    const char* program = std::getenv("VESKCFG_WINDOWS_PROGRAM");
    if (!program || !*program) GTEST_SKIP() << "VESKCFG_WINDOWS_PROGRAM names no Windows build";
    LinuxBackend linux;
    WineBackend windows(program);
    ASSERT_FALSE(windows.primary().empty());
    for (const Row& row : rows()) {
        if (row.setup.refusesWrites) continue;
        SCOPED_TRACE(row.name);
        Outcome onWine = runRow(windows, row);
        expectRow(windows, row, onWine);
        // The same records and list as the Linux run left.
        State expected = runRow(linux, row).state;
        State got = onWine.state;
        EXPECT_EQ(got, expected);
    }
}

// The table against real servers: the same output and status, and the same
// records, list and connections left as over the world.
TEST(BothBackends, LinuxOverSmb) {
    if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers (scripts/smb-servers.sh)";
    LinuxBackend linux;
    SmbBackend smb;
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        Outcome overSmb = runRow(smb, row);
        expectRow(smb, row, overSmb);
        EXPECT_EQ(overSmb.state, runRow(linux, row).state);
    }
}

// The table over a domain: NTLM where the DC allows it, Kerberos where it
// does not. Every row that logs on to the DC does so by that mechanism
// alone, as its logs show.
TEST(BothBackends, LinuxOverDomain) {
    if (!domainLab()) GTEST_SKIP() << "VESKCFG_SMB_LAB has no domain controller (smb-servers.sh --dc DC1)";
    const Mechanism mechanism = domainAllowsNtlm() ? Mechanism::Ntlm : Mechanism::Kerberos;
    LinuxBackend linux;
    DomainBackend domain(mechanism);
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        LogonWitness witness;
        Outcome overDomain = runRow(domain, row);
        expectRow(domain, row, overDomain);
        EXPECT_EQ(overDomain.state, runRow(linux, row).state);
        const std::string seen = witness.seen();
        std::printf("[ logon    ] %s: %s\n", row.name, seen.c_str());
        if (seen != "none") {
            EXPECT_EQ(seen, nameOf(mechanism));
        }
        if (overDomain.run.out.ends_with(kOk) && row.args[0] != std::string("ld")) {
            EXPECT_EQ(seen, nameOf(mechanism));
        }
    }
}

// libfaketime, which moves the clock of the program it is preloaded into;
// empty when it is not installed.

}  // namespace
