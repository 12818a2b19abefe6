// Domain logons beside the table: Windows' code for each refusal of a
// domain account by both mechanisms, any account name a person may type,
// what stands beside the domain (a workgroup server, an unreachable one, a
// KDC that never answers), a server's own account, and no password left
// behind. Run over a Samba AD DC (scripts/smb-servers.sh --dc), by the
// same executable as the table (their names begin BothBackends.LinuxOverDomain).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/backend_domain.h"
#include "tests/support/freed_watch.h"

namespace {

std::string faketimeLibrary() {
    std::error_code error;
    for (const auto& folder : std::filesystem::directory_iterator("/usr/lib", error)) {
        std::filesystem::path library = folder.path() / "faketime" / "libfaketime.so.1";
        if (std::filesystem::exists(library, error)) return library.string();
    }
    return std::filesystem::exists("/usr/lib/faketime/libfaketime.so.1") ? "/usr/lib/faketime/libfaketime.so.1" : "";
}

// Windows' code for each refusal of a domain account, by Kerberos and by
// NTLM alike; NTLM refused outright where the DC blocks it.
TEST(BothBackends, LinuxOverDomainRefusals) {
    if (!domainLab()) GTEST_SKIP() << "VESKCFG_SMB_LAB has no domain controller (smb-servers.sh --dc DC1)";
    const bool ntlmAllowed = domainAllowsNtlm();
    const std::string faketime = faketimeLibrary();
    struct {
        const char* name;
        std::string user, password;
        long code;
        std::string text;
        bool kerberosOnly = false;  // the clock is Kerberos' concern alone
        bool beforeNtlm = false;    // the DC refuses it before it looks at the mechanism
    } refusals[] = {
        {"a wrong password", "tester", "wrong", 1326, "The user name or password is incorrect."},
        {"an unknown account", "nobody", "psecret", 1326, "The user name or password is incorrect.", false, true},
        {"a disabled account", "off", "psecret", 1331, "This user can't sign in because this account is currently disabled."},
        {"an expired account", "gone", "psecret", 1793, "The user's account has expired."},
        {"an expired password", "old", "psecret", 1330, "The password for this account has expired."},
        {"a password to change first", "fresh", "psecret", 1907, "The user's password must be changed before signing in."},
        {"a locked-out account", "locked", "psecret", 1909,
         "The referenced account is currently locked out and may not be logged on to.", false, true},
        {"a clock an hour ahead", "reader", "rsecret", 1398,
         "There is a time and/or date difference between the client and server.", true},
    };
    LinuxBackend linux;
    DomainBackend console(Mechanism::Kerberos);
    console.setUp({});
    for (int i = 0; i < 3; ++i) console.run({"mp", "PRIM"}, {"locked\rbad\r"});  // three wrong passwords lock it
    for (Mechanism mechanism : {Mechanism::Kerberos, Mechanism::Ntlm}) {
        for (const auto& refusal : refusals) {
            if (refusal.kerberosOnly && mechanism == Mechanism::Ntlm) continue;
            SCOPED_TRACE(std::string(refusal.name) + " by " + nameOf(mechanism));
            const bool blocked = mechanism == Mechanism::Ntlm && !ntlmAllowed && !refusal.beforeNtlm;
            RunOptions options;
            // The realm named (in lower case, as it may be typed): an account the
            // default realm does not know would be tried with NTLM too.
            const std::string user = mechanism == Mechanism::Ntlm ? "R\\" + refusal.user : refusal.user + "@r.lab";
            options.keys = {user + "\r" + refusal.password + "\r"};
            options.environment = domainEnvironment(mechanism);
            if (refusal.kerberosOnly && faketime.empty()) {
                std::printf("[ left out ] %s: libfaketime is missing (apt-get install faketime)\n", refusal.name);
                continue;
            }
            if (refusal.kerberosOnly) {
                options.environment.push_back({"LD_PRELOAD", faketime});
                options.environment.push_back({"FAKETIME", "+1h"});
                options.environment.push_back({"ASAN_OPTIONS", "verify_asan_link_order=0"});  // preloaded first
            }
            LogonWitness witness;
            RunResult run = runVeskCfg(VESKCFG_BINARY, {"mp", "PRIM"}, options);
            const std::string text = blocked ? "The authentication failed since NTLM authentication has been disabled."
                                             : refusal.text;
            EXPECT_EQ(run.out, "Making PRIM a primary.\n" + prompt("PRIM") + error(text, "Failed During Transaction"));
            EXPECT_EQ(run.status, linux.exitStatus(blocked ? 1937 : refusal.code));
            EXPECT_EQ(witness.seen(), nameOf(mechanism));
            std::printf("[ logon    ] %s by %s: %s\n", refusal.name, nameOf(mechanism), witness.seen().c_str());
        }
    }
}

// No account name, typed or stored, ends the program with a signal; a realm
// typed in lower case still logs on with Kerberos; a server named by its
// address is never reached with Kerberos.
TEST(BothBackends, LinuxOverDomainAnyName) {
    if (!domainLab()) GTEST_SKIP() << "VESKCFG_SMB_LAB has no domain controller (smb-servers.sh --dc DC1)";
    const bool ntlmAllowed = domainAllowsNtlm();
    struct {
        std::string server, user;
        const char* logon;  // Kerberos, or anything but Kerberos
        bool done;          // the logon succeeds
    } names[] = {
        {"PRIM", "admin@r.lab", "Kerberos", true},
        {"PRIM", "ADMIN@R.lab", "Kerberos", true},
        {"PRIM", "R\\admin", "Kerberos", true},
        {"127.0.2.2", "admin", "NTLM", ntlmAllowed},
        {"PRIM", "@", "none", false},
        {"PRIM", "admin@", "none", false},
        {"PRIM", "@R.LAB", "none", false},
        {"PRIM", "admin@R.LAB@R.LAB", "NTLM", false},  // no such realm: no KDC
        {"PRIM", "R\\", "none", false},
        {"PRIM", "\\admin", "Kerberos", true},
        {"PRIM", "admin/x@R.LAB", "Kerberos", false},
        {"PRIM", "admin%wrong", "Kerberos", true},  // the password is the one typed for it
        {"PRIM", "aaaaaaaaaaaaaaaaaaa@", "none", false},
    };
    for (const auto& name : names) {
        for (bool stored : {false, true}) {
            SCOPED_TRACE(name.user + " at " + name.server + (stored ? ", stored" : ", typed"));
            TempWorld world;
            setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
            world.addComputer("CONSOLE", {});
            RunOptions options;
            options.environment = domainEnvironment(Mechanism::Kerberos);
            if (stored) world.storeRecord(name.server, name.server, name.user, "psecret", 0);
            else options.keys = {name.user + "\rpsecret\r"};
            LogonWitness witness;
            RunResult run = runVeskCfg(VESKCFG_BINARY, {stored ? "lp" : "mp", name.server}, options);
            // Ended by itself, as a run ends: no signal's status, the last line the tool's own.
            for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE}) EXPECT_NE(run.status, 128 + signal);
            EXPECT_GE(run.status, 0);
            EXPECT_TRUE(run.out.ends_with(kOk) || run.out.ends_with(" Transaction.\n")) << run.out;
            EXPECT_EQ(run.out.find("ERROR!") == std::string::npos, name.done) << run.out;
            std::string seen = witness.seen();
            if (std::string(name.logon) == "Kerberos") {
                EXPECT_EQ(seen, "Kerberos");
            } else {
                EXPECT_EQ(seen.find("Kerberos"), std::string::npos) << seen;
            }
            std::printf("[ logon    ] %s at %s, %s: %s, %s\n", name.user.c_str(), name.server.c_str(),
                        stored ? "stored" : "typed", seen.c_str(), run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1).c_str());
            EXPECT_FALSE(std::filesystem::exists(sambaLab() + "/krb5cc"));  // no ticket cache left
        }
    }
}

// Beside the domain: a workgroup server's own account still logs on when
// the console's default realm is the domain's (which does not know it); a
// refusal the KDC gives before the server is reached is the server's 53
// when the server cannot be reached, as on Windows, which reaches it first;
// and a KDC that takes requests and never answers is given up in seconds,
// the logon going on with NTLM (refused where the DC refuses NTLM).
TEST(BothBackends, LinuxOverDomainBesideIt) {
    if (!domainLab()) GTEST_SKIP() << "VESKCFG_SMB_LAB has no domain controller (smb-servers.sh --dc DC1)";
    SmbBackend console;
    console.setUp({});
    // The silent KDC: 127.0.0.1's port 88 takes datagrams and connections and
    // never reads them.
    int datagrams = socket(AF_INET, SOCK_DGRAM, 0), connections = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in kdc = {};
    kdc.sin_family = AF_INET;
    kdc.sin_port = htons(88);
    kdc.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(datagrams, reinterpret_cast<sockaddr*>(&kdc), sizeof kdc), 0);
    ASSERT_EQ(bind(connections, reinterpret_cast<sockaddr*>(&kdc), sizeof kdc), 0);
    ASSERT_EQ(listen(connections, 16), 0);
    const std::string silent = sambaLab() + "/krb5-silent.conf";
    std::ofstream(silent) << replaced(fileText(sambaLab() + "/krb5.conf"), "kdc = 127.0.2.2", "kdc = 127.0.0.1");
    const bool ntlmAllowed = domainAllowsNtlm();
    struct {
        std::string server, keys, config, out;
        int status;
    } runs[] = {
        {"LONE", "solo\rssecret\r", "krb5.conf", "Making LONE a primary.\n" + prompt("LONE") + kOk, 0},
        {"DOWN", "nobody@R.LAB\rpsecret\r", "krb5.conf",
         "Making DOWN a primary.\n" + prompt("DOWN") + error("The network path was not found.", "Failed During Transaction"), 53},
        {"PRIM", "admin@R.LAB\rpsecret\r", "krb5-silent.conf",
         "Making PRIM a primary.\n" + prompt("PRIM") +
             (ntlmAllowed ? kOk
                          : error("The authentication failed since NTLM authentication has been disabled.",
                                  "Failed During Transaction")),
         ntlmAllowed ? 0 : 145},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.server + " with " + run.config);
        RunOptions options;
        options.keys = {run.keys};
        options.environment = {{"VESKCFG_NETWORK", "smb"}, {"KRB5_CONFIG", sambaLab() + "/" + run.config}};
        const auto started = std::chrono::steady_clock::now();
        RunResult result = runVeskCfg(VESKCFG_BINARY, {"mp", run.server}, options);
        EXPECT_EQ(result.out, run.out);
        EXPECT_EQ(result.status, run.status);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    }
    close(datagrams);
    close(connections);
}

// A logon by NTLM and by Kerberos leaves no copy of the password in any
// block the program gives back, Samba's and libkrb5's included.
TEST(BothBackends, LinuxOverDomainLeavesNoPasswordBehind) {
    if (!domainLab()) GTEST_SKIP() << "VESKCFG_SMB_LAB has no domain controller (smb-servers.sh --dc DC1)";
    if (!freedWatchWorks()) GTEST_SKIP() << "the sanitizers' runtime must come first; the watch cannot be loaded";
    const std::string password = "Wiped-Password-20chr";
    struct {
        const char* what;
        std::string user;
        Mechanism mechanism;
    } logons[] = {{"NTLM", "wiper", Mechanism::Ntlm}, {"Kerberos", "wiper@R.LAB", Mechanism::Kerberos}};
    for (const auto& logon : logons) {
        SCOPED_TRACE(logon.what);
        TempWorld world;
        setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
        world.addComputer("CONSOLE", {});
        RunOptions options;
        options.keys = {logon.user + "\r" + password + "\r"};
        options.environment = domainEnvironment(logon.mechanism);
        LogonWitness witness;
        WatchedRun watched = runWatched(VESKCFG_BINARY, {"lp", "PRIM"}, options, {password}, world.root());
        EXPECT_EQ(watched.held, std::vector<std::string>{}) << watched.run.out;
        EXPECT_GT(watched.scanned, 0) << "the watch was not loaded";
        std::printf("[ watched  ] a logon by %s (%s): %ld blocks freed and looked at, %zu holding the password\n",
                    logon.what, witness.seen().c_str(), watched.scanned, watched.held.size());
    }
}

// A domain's bad-password count of an account, as the DC keeps it.
int badPasswordCount(const std::string& user) {
    std::string command = "/usr/bin/python3 /usr/bin/samba-tool user show " + user +
                          " -H /var/lib/samba/dc/private/sam.ldb --attributes=badPwdCount 2>/dev/null";
    FILE* shown = popen(command.c_str(), "r");
    if (!shown) return -1;
    char line[256];
    int count = -1;
    while (std::fgets(line, sizeof line, shown)) std::sscanf(line, "badPwdCount: %d", &count);
    pclose(shown);
    return count;
}

// Each account goes only to the realm that owns it: LONE's own admin,
// typed LONE\admin or .\admin with LONE's password, logs on to LONE with
// NTLM, as does one typed with a domain the realm does not own (LONE's
// workgroup); the domain's admin (another password) is never tried with it.
TEST(BothBackends, LinuxOverDomainAServersOwnAccount) {
    if (!domainLab()) GTEST_SKIP() << "VESKCFG_SMB_LAB has no domain controller (smb-servers.sh --dc DC1)";
    const int before = badPasswordCount("admin");
    for (const std::string user : {"LONE\\admin", ".\\admin", "lone\\admin", "WORKGROUP\\admin"}) {
        SCOPED_TRACE(user);
        TempWorld world;
        setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
        world.addComputer("CONSOLE", {});
        RunOptions options;
        options.keys = {user + "\rlsecret\r"};
        options.environment = domainEnvironment(Mechanism::Kerberos);
        LogonWitness witness;
        RunResult run = runVeskCfg(VESKCFG_BINARY, {"lp", "LONE"}, options);
        EXPECT_EQ(run.out, "List the primary of LONE.\n" + prompt("LONE") + "LONE is not a secondary or primary.\n");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(witness.seen(), "none");  // nothing reached the DC, its KDC included
    }
    const int after = badPasswordCount("admin");
    std::printf("[ logon    ] the domain admin's badPwdCount: %d before, %d after\n", before, after);
    EXPECT_EQ(after, 0);
}

}  // namespace
