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
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "credentials/scramble.h"
#include "tools/support/run_veskcfg.h"
#include "tests/support/freed_watch.h"
#include "tests/support/samba_lab.h"
#include "tools/support/temp_world.h"

namespace {

// ---- the table ----------------------------------------------------------------

struct Record {
    std::string server, primary, user, password;
    int isDistributed;
};

// What a row starts from, beside the computers every row has: {P} (the
// primary, where the tool runs; admin:psecret, newadmin:n3w, reader:rsecret),
// DIST (dadmin:dsecret), OTHER (oadmin:osecret), DOWN (offline) and SILENT
// (offline; over a real network it takes connections and never answers).
struct Setup {
    std::vector<Record> records = {};
    std::optional<std::vector<std::string>> list = {};  // {P}'s list, in creation order
    std::vector<std::string> connections = {};          // "\\SERVER\share USER"
    // {P} refuses to create keys (5), as a real server does to reader, who
    // may log on and read but not write. The world fails the call instead;
    // Wine's registry knows no such account, so the Windows run leaves the row out.
    bool refusesWrites = false;
};

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

Record primary() { return {"{P}", "{P}", "admin", "psecret", 0}; }
Record dist() { return {"DIST", "{P}", "dadmin", "dsecret", 1}; }

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

// ---- what the backends share --------------------------------------------

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A row's records and list, and the connections left, in one comparable text.
struct State {
    std::map<std::string, std::string> records;  // server: what its record holds
    std::vector<std::string> list;               // sorted: the backends' orders differ
    bool hasList = false;
    std::string connections;
    bool operator==(const State&) const = default;
};

std::ostream& operator<<(std::ostream& out, const State& state) {
    for (const auto& [server, bytes] : state.records) out << server << " " << bytes << "\n";
    out << (state.hasList ? "list:" : "no list");
    for (const std::string& name : state.list) out << " " << name;
    return out << "\nconnections: " << state.connections;
}

// A record's fields, with the primary's own name written {P}, so that the
// backends' records compare although their primaries' names differ.
std::string describe(const std::string& bytes, const std::string& primaryName) {
    ServerRoleRecord record = {};
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    char user[CREDENTIAL_FIELD_SIZE + 1] = {}, password[CREDENTIAL_FIELD_SIZE + 1] = {};
    unscrambleText(record.userName, user);
    unscrambleText(record.password, password);
    std::string primary(record.primaryName, strnlen(record.primaryName, sizeof record.primaryName));
    if (primary == primaryName) primary = "{P}";
    return primary + " " + std::to_string(record.isDistributed) + " " + user + ":" + password + " (" +
           std::to_string(bytes.size()) + " bytes)";
}

std::string asServer(const std::string& name, const std::string& primaryName) { return name == primaryName ? "{P}" : name; }

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::string primary() const = 0;
    virtual void setUp(const Setup& setup) = 0;
    virtual RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& keys) = 0;
    virtual State state() = 0;
    virtual std::vector<std::string> enumerationOrder(std::vector<std::string> names) const = 0;
    virtual std::string asPrinted(std::string linuxOutput) const = 0;
    virtual int exitStatus(long code) const = 0;

    // The row with {P} and {LIST} filled in for this backend.
    std::string expand(const std::string& text, const Setup& setup) const {
        std::string lines;
        for (const std::string& name : enumerationOrder(setup.list.value_or(std::vector<std::string>())))
            lines += "      attached server: " + name + "\n";
        return replaced(replaced(replaced(text, "{LIST}", lines), "{P}", primary()), "{p}", lower(primary()));
    }
    Record expand(Record record) const {
        record.server = expand(record.server, {});
        record.primary = expand(record.primary, {});
        return record;
    }

    // The row's records in the store of the world's local computer, and its
    // connections as that computer's connections file holds them.
    void storeRecords(const TempWorld& world, const Setup& setup) const {
        for (const Record& record : setup.records) {
            Record filled = expand(record);
            world.storeRecord(filled.server, filled.primary, filled.user, filled.password, filled.isDistributed);
        }
    }
    std::string connectionsOf(const Setup& setup) const {
        std::string connections;
        for (const std::string& line : setup.connections) connections += expand(line, {}) + "\n";
        return connections;
    }
    // What the world's local store holds for the table's computers afterwards.
    std::map<std::string, std::string> recordsIn(const TempWorld& world) const {
        std::map<std::string, std::string> records;
        for (const char* server : {"PRIM", "DIST", "OTHER", "DOWN", "SILENT"}) {
            std::string bytes = world.storedRecordBytes(server);
            if (!bytes.empty()) records[asServer(server, primary())] = describe(bytes, primary());
        }
        return records;
    }
};

// ---- Linux: the simulated network ------------------------------------

class LinuxBackend : public Backend {
public:
    std::string primary() const override { return "PRIM"; }

    void setUp(const Setup& setup) override {
        world_ = std::make_unique<TempWorld>();
        setenv("VESKCFG_COMPUTERNAME", "PRIM", 1);
        world_->addComputer("PRIM", {"admin:psecret", "newadmin:n3w", "reader:rsecret"});
        world_->addComputer("DIST", {"dadmin:dsecret"});
        world_->addComputer("OTHER", {"oadmin:osecret"});
        world_->addComputer("DOWN", {"admin:psecret"});
        world_->write("DOWN/offline", "");
        world_->addComputer("SILENT", {"admin:psecret"});
        world_->write("SILENT/offline", "");
        storeRecords(*world_, setup);
        if (setup.list) {
            std::string hive = world_->read("PRIM/hklm.reg");
            if (hive.empty()) hive = "REGEDIT4\n\n";
            hive += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n";
            for (const std::string& name : *setup.list) hive += "\"" + name + "\"=hex(1):\n";
            world_->write("PRIM/hklm.reg", hive + "\n");
        }
        world_->write("PRIM/connections", connectionsOf(setup));
        // The second: the first creates the record store's own key, on PRIM too.
        if (setup.refusesWrites) world_->write("PRIM/faults", "RegCreateKeyExA 5 2\n");
    }

    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& keys) override {
        RunOptions options;
        options.keys = keys;
        return runVeskCfg(VESKCFG_BINARY, args, options);
    }

    State state() override {
        State state;
        state.records = recordsIn(*world_);
        std::string hive = world_->read("PRIM/hklm.reg");
        size_t key = hive.find("\\VeskDistributedServers]\n");
        state.hasList = key != std::string::npos;
        if (state.hasList) {
            std::istringstream lines(hive.substr(key + 25));
            for (std::string line; std::getline(lines, line) && !line.empty() && line[0] == '"';)
                state.list.push_back(line.substr(1, line.find('"', 1) - 1));
        }
        std::sort(state.list.begin(), state.list.end());
        state.connections = world_->read("PRIM/connections");
        return state;
    }

    std::vector<std::string> enumerationOrder(std::vector<std::string> names) const override { return names; }
    std::string asPrinted(std::string out) const override { return out; }
    int exitStatus(long code) const override {
        int low = static_cast<int>(code & 0xFF);
        return code && !low ? 255 : low;
    }

private:
    std::unique_ptr<TempWorld> world_;
};

// ---- Windows: VeskCfg.exe under Wine --------------------------------------

const char kWine[] = "/usr/lib/wine/wine64";

// Runs a Wine program to its end; its standard output.
std::string wine(const std::vector<std::string>& args) {
    RunOptions options;
    options.terminal = false;
    return runVeskCfg(kWine, args, options).out;
}

class WineBackend : public Backend {
public:
    explicit WineBackend(std::string program) : program_(std::move(program)) {
        char pattern[] = "/tmp/veskcfg-network-XXXXXX";
        network_ = mkdtemp(pattern);
        std::string name = wine({"cmd", "/c", "echo", "%COMPUTERNAME%"});
        primary_ = name.substr(0, name.find_first_of("\r\n"));
        setenv("WINEDLLOVERRIDES", "mpr=n", 1);
        setenv("VESKCFG_TEST_NETWORK", ("Z:" + replaced(network_, "/", "\\")).c_str(), 1);
    }
    ~WineBackend() override { std::system(("rm -rf '" + network_ + "'").c_str()); }

    std::string primary() const override { return primary_; }

    void setUp(const Setup& setup) override {
        std::ofstream(network_ + "/accounts") << primary_ << " admin:psecret\n" << primary_ << " newadmin:n3w\n"
                                              << "DIST dadmin:dsecret\nOTHER oadmin:osecret\nDOWN admin:psecret\n"
                                              << "SILENT admin:psecret\n";
        std::ofstream(network_ + "/offline") << "DOWN\nSILENT\n";
        std::ofstream connections(network_ + "/connections");
        for (const std::string& line : setup.connections) connections << expand(line, {}) << "\n";
        connections.close();
        // The registry as the row wants it, through Wine's own regedit.
        std::string reg = "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere]\n\n";
        for (const Record& record : setup.records) {
            Record filled = expand(record);
            std::string bytes = roleRecordBytes(filled.primary, filled.isDistributed, filled.user, filled.password);
            reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers\\" + filled.server + "\\Vesklane]\n\"Slot_1\"=hex:";
            for (size_t i = 0; i < bytes.size(); ++i) {
                char pair[4];
                std::snprintf(pair, sizeof pair, i ? ",%02x" : "%02x", static_cast<unsigned char>(bytes[i]));
                reg += pair;
            }
            reg += "\n\n";
        }
        if (setup.list) {
            reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n";
            for (const std::string& name : *setup.list) reg += "\"" + name + "\"=hex(1):\n";
        }
        std::ofstream(network_ + "/setup.reg") << reg;
        wine({"regedit", "/s", "Z:" + replaced(network_, "/", "\\") + "\\setup.reg"});
    }

    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& keys) override {
        RunOptions options;
        options.keys = keys;
        options.inputOnTerminal = true;
        std::vector<std::string> wineArgs = {program_ + "/VeskCfg.exe"};
        wineArgs.insert(wineArgs.end(), args.begin(), args.end());
        return runVeskCfg(kWine, wineArgs, options);
    }

    // What Wine's reg shows of the product's keys.
    State state() override {
        State state;
        std::istringstream lines(wine({"reg", "query", "HKLM\\SOFTWARE\\Tallmere", "/s"}));
        std::string key;
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("HKEY_", 0) == 0) {
                key = line;
                state.hasList = state.hasList || key.ends_with("\\VeskDistributedServers");
                continue;
            }
            std::istringstream fields(line);
            std::string name, type, data;
            if (!(fields >> name >> type)) continue;
            fields >> data;
            if (key.ends_with("\\VeskDistributedServers")) {
                state.list.push_back(name);
            } else if (name == "Slot_1") {
                std::string server = key.substr(0, key.rfind('\\'));
                std::string bytes;
                for (size_t at = 0; at + 1 < data.size(); at += 2)
                    bytes += static_cast<char>(std::stoi(data.substr(at, 2), nullptr, 16));
                state.records[asServer(server.substr(server.rfind('\\') + 1), primary_)] = describe(bytes, primary_);
            }
        }
        std::sort(state.list.begin(), state.list.end());
        std::ifstream connections(network_ + "/connections");
        state.connections.assign(std::istreambuf_iterator<char>(connections), std::istreambuf_iterator<char>());
        return state;
    }

    // Wine keeps values sorted by name, where Windows keeps their creation order.
    std::vector<std::string> enumerationOrder(std::vector<std::string> names) const override {
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
        return names;
    }

    // The Windows runtime writes each "\n" as "\r\n"; Wine has system texts of
    // its own.
    std::string asPrinted(std::string out) const override {
        static const std::pair<const char*, const char*> kWineTexts[] = {
            {"The system cannot find the file specified.", "File not found."},
            {"The user name or password is incorrect.", "Logon failure."},
            {"The network path was not found.", "Bad network path."},
            {"Access is denied.", "Access denied."},
        };
        for (const auto& [windows, wine] : kWineTexts) out = replaced(out, windows, wine);
        return replaced(out, "\n", "\r\n");
    }

    int exitStatus(long code) const override { return static_cast<int>(code & 0xFF); }

private:
    std::string program_;
    std::string network_;
    std::string primary_;
};

// ---- Linux over real SMB servers ------------------------------------------

// The tool on a console of its own (CONSOLE, in a world) reaching PRIM, DIST
// and OTHER as Samba servers, DOWN as a name with no server and SILENT as a
// server that never answers: the lab
// scripts/smb-servers.sh starts, named by VESKCFG_SMB_LAB.
class SmbBackend : public Backend {
public:
    std::string primary() const override { return "PRIM"; }

    void setUp(const Setup& setup) override {
        world_ = std::make_unique<TempWorld>();
        setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
        world_->addComputer("CONSOLE", {});
        storeRecords(*world_, setup);
        EXPECT_TRUE(putSambaList("PRIM", setup.list, world_->root()));
        world_->write("CONSOLE/connections", connectionsOf(setup));
    }

    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& keys) override {
        RunOptions options;
        options.keys = keys;
        options.environment = {{"VESKCFG_NETWORK", "smb"}};
        return runVeskCfg(VESKCFG_BINARY, args, options);
    }

    State state() override {
        State state;
        state.records = recordsIn(*world_);
        std::optional<std::vector<std::string>> list = sambaList("PRIM");
        state.hasList = list.has_value();
        state.list = list.value_or(std::vector<std::string>());
        std::sort(state.list.begin(), state.list.end());
        state.connections = world_->read("CONSOLE/connections");
        return state;
    }

    // Samba keeps values in their creation order, as Windows does.
    std::vector<std::string> enumerationOrder(std::vector<std::string> names) const override { return names; }
    std::string asPrinted(std::string out) const override { return out; }
    int exitStatus(long code) const override { return LinuxBackend().exitStatus(code); }

private:
    std::unique_ptr<TempWorld> world_;
};

// ---- Linux over an Active Directory domain -----------------------------------

// The lab's Samba AD DC (smb-servers.sh --dc DC1) serves PRIM, DIST and
// OTHER, each a name of its own in Kerberos, and every account is a domain
// account. The console logs on with NTLM when its krb5.conf names no
// default realm, and with Kerberos when it names the domain's.
bool domainLab() { return !sambaLab().empty() && std::filesystem::exists(sambaLab() + "/DC1"); }

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool domainAllowsNtlm() { return fileText(sambaConf("DC1")).find("ntlm auth = disabled") == std::string::npos; }

enum class Mechanism { Kerberos, Ntlm };

std::vector<std::pair<std::string, std::string>> domainEnvironment(Mechanism mechanism) {
    const std::string config = mechanism == Mechanism::Kerberos ? "/krb5.conf" : "/krb5-norealm.conf";
    return {{"VESKCFG_NETWORK", "smb"}, {"KRB5_CONFIG", sambaLab() + config}};
}

// What logged on to the DC since it was made, from the DC's own logs: its
// KDC's (a Kerberos logon starts there, refused or not) and its sessions'.
class LogonWitness {
public:
    LogonWitness() : kdcFrom_(fileText(kdcLog()).size()), sessionsFrom_(fileText(sessionLog()).size()) {}
    // "Kerberos", "NTLM", "Kerberos and NTLM" or "none".
    std::string seen() const {
        std::string kdc = fileText(kdcLog()).substr(kdcFrom_), sessions = fileText(sessionLog()).substr(sessionsFrom_);
        bool kerberos = kdc.find("Auth: [Kerberos KDC") != std::string::npos ||
                        sessions.find("[SMB2,krb5]") != std::string::npos;
        bool ntlm = sessions.find("[SMB2,NTLMSSP]") != std::string::npos;
        return kerberos && ntlm ? "Kerberos and NTLM" : kerberos ? "Kerberos" : ntlm ? "NTLM" : "none";
    }

private:
    static std::string kdcLog() { return sambaLab() + "/DC1/log/log.samba"; }
    static std::string sessionLog() { return sambaLab() + "/DC1/log/log.smbd"; }
    size_t kdcFrom_, sessionsFrom_;
};

const char* nameOf(Mechanism mechanism) { return mechanism == Mechanism::Kerberos ? "Kerberos" : "NTLM"; }

class DomainBackend : public SmbBackend {
public:
    explicit DomainBackend(Mechanism mechanism) : mechanism_(mechanism) {}
    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& keys) override {
        RunOptions options;
        options.keys = keys;
        options.environment = domainEnvironment(mechanism_);
        return runVeskCfg(VESKCFG_BINARY, args, options);
    }

private:
    Mechanism mechanism_;
};

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

// Names go to the server in UTF-16 from the ANSI code page and come back in
// it, '?' for each character the code page lacks; Samba's net, a peer that
// reads the UTF-16, sees each name as typed. S\xC9RVER (code page 1252) is
// another name of DIST (smb-servers.sh --alias).
TEST(BothBackends, LinuxOverSmbNames) {
    if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers (scripts/smb-servers.sh)";
    SmbBackend smb;
    const std::string server = "S\xC9RVER", serverUtf8 = "S\xC3\x89RVER", katakana = "\xE3\x82\xA2\xE3\x82\xA4";
    smb.setUp({{primary()}, std::vector<std::string>{katakana}});
    const std::string listed = "List all distributed servers for PRIM.\nPRIM is a primary.\n";
    struct {
        const char* codePage;
        const char* locale;  // of the console: the command line and the output
        std::vector<std::string> args;
        std::string keys, out;
        std::vector<std::string> listAfter;
    } runs[] = {
        {"1252", "C", {"md", "PRIM", server}, "dadmin\rdsecret\r",
         "Assigning " + server + " to PRIM.\n" + prompt(server) + "PRIM is a primary.\n      attached server: ??\n" + kOk,
         {serverUtf8, katakana}},
        {"932", "C", {"ld", "PRIM"}, "",
         listed + "      attached server: \x83\x41\x83\x43\n      attached server: S?RVER\n" + kOk, {serverUtf8, katakana}},
        {"932", "C.UTF-8", {"ld", "PRIM"}, "",
         listed + "      attached server: " + katakana + "\n      attached server: S?RVER\n" + kOk, {serverUtf8, katakana}},
        {"1252", "C", {"rd", "PRIM", server}, "", "Removing " + server + " from PRIM .\n" + kOk, {katakana}},
        // Typed in UTF-8, the name reaches the server as its peers read it.
        {"1252", "C.UTF-8", {"md", "PRIM", "s\xC3\xA9rver"}, "dadmin\rdsecret\r",
         "Assigning " + serverUtf8 + " to PRIM.\n" + prompt(serverUtf8) + "PRIM is a primary.\n      attached server: ??\n" + kOk,
         {serverUtf8, katakana}},
        {"1252", "C.UTF-8", {"ld", "PRIM"}, "",
         listed + "      attached server: ??\n      attached server: " + serverUtf8 + "\n" + kOk, {serverUtf8, katakana}},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(std::string(run.codePage) + " " + run.locale + " " + run.args[0]);
        RunOptions options;
        options.keys = {run.keys};
        options.environment = {{"VESKCFG_NETWORK", "smb"}, {"VESKCFG_CODEPAGE", run.codePage}, {"LC_ALL", run.locale}};
        RunResult result = runVeskCfg(VESKCFG_BINARY, run.args, options);
        EXPECT_EQ(result.out, run.out);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(smb.state().list, run.listAfter);
    }
}

// A list across a slow link (SLOW: 5 ms added to every round trip) is walked
// over several lanes at once; what the operations see does not change.
class SlowLink : public ::testing::Test {
protected:
    void SetUp() override {
        if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers (scripts/smb-servers.sh)";
        setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
        world.addComputer("CONSOLE", {});
        world.storeRecord("SLOW", "SLOW", "admin", "psecret", 0);
        for (int i = 0; i < 600; ++i) names.push_back("S" + std::to_string(1000 + i));
        ASSERT_TRUE(putSambaList("SLOW", names, world.root()));
    }
    RunResult ld() {
        RunOptions options;
        options.environment = {{"VESKCFG_NETWORK", "smb"}};
        return runVeskCfg(VESKCFG_BINARY, {"ld", "SLOW"}, options);
    }
    std::string listed(const std::vector<std::string>& entries) const {
        std::string out = "List all distributed servers for SLOW.\nSLOW is a primary.\n";
        for (const std::string& name : entries) out += "      attached server: " + name + "\n";
        return out + kOk;
    }
    TempWorld world;
    std::vector<std::string> names;
};

// Many windows' worth of names: the bytes a walk of one request at a time
// gives.
TEST_F(SlowLink, LinuxOverSmbWalksGiveTheSameBytes) {
    RunResult run = ld();
    EXPECT_EQ(run.out, listed(names));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(world.read("CONSOLE/connections"), "");
}

// A step failed on purpose fails at its index, and the walk ends there, as
// over the world: the 50th step (index 49) shows an empty name, the last.
TEST_F(SlowLink, LinuxOverSmbFailuresLandAtTheirIndex) {
    world.addComputer("SLOW");
    world.write("SLOW/faults", "RegEnumValueA 1013 50\n");
    std::vector<std::string> expected(names.begin(), names.begin() + 50);
    expected[49] = "";
    RunResult run = ld();
    std::string shown = listed(expected);
    EXPECT_EQ(run.out, shown.substr(0, shown.size() - kOk.size()));
    EXPECT_EQ(run.status, 1013 & 0xFF);
}

// Values added and deleted by Samba's net while ld walks the key: the walk
// ends, without a crash or a hang, each line a name the key held at some
// moment (a name may be missed or repeat, as on Windows).
TEST_F(SlowLink, LinuxOverSmbAKeyChangedUnderTheWalk) {
    std::atomic<bool> walking = true;
    std::thread changer([&] {
        const std::string conf = sambaConf("SLOW");
        for (int i = 0; walking && i < 200; ++i) {
            std::string name = "NEW" + std::to_string(i);
            std::system(("net -s '" + conf + "' registry setvalue '" + kSambaListKey + "' " + name +
                         " sz '' >/dev/null 2>&1").c_str());
            std::system(("net -s '" + conf + "' registry deletevalue '" + kSambaListKey + "' S" +
                         std::to_string(1000 + i) + " >/dev/null 2>&1").c_str());
        }
    });
    RunResult run = ld();
    walking = false;
    changer.join();
    EXPECT_EQ(run.status, 0) << run.out;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "List all distributed servers for SLOW.");
    std::getline(lines, line);
    EXPECT_EQ(line, "SLOW is a primary.");
    int entries = 0;
    while (std::getline(lines, line) && line != "Transaction OK!") {
        EXPECT_TRUE(line.rfind("      attached server: S1", 0) == 0 || line.rfind("      attached server: NEW", 0) == 0)
            << line;
        ++entries;
    }
    EXPECT_EQ(line, "Transaction OK!");
    EXPECT_GT(entries, 300);
}

// A program with no smb module beside it (or built without one) says so on
// standard error and fails every call on another computer with 50; it never
// looks the name up.
TEST(BothBackends, LinuxWithoutTheSmbModule) {
    TempWorld world;
    world.storeRecord("DOWN", "DOWN", "admin", "psecret", 0);
    const std::string alone = world.root() + "/VeskCfg";
    std::filesystem::copy_file(VESKCFG_BINARY, alone);
    std::filesystem::permissions(alone, std::filesystem::perms::owner_all);
    RunOptions options;
    options.environment = {{"VESKCFG_NETWORK", "smb"}};
    RunResult result = runVeskCfg(alone.c_str(), {"lp", "DOWN"}, options);
    EXPECT_EQ(result.out, "List the primary of DOWN.\n" + error("The request is not supported.", "Failed During Transaction"));
    EXPECT_EQ(result.status, 50);
    EXPECT_NE(result.err.find("VESKCFG_NETWORK=smb: "), std::string::npos) << result.err;
    EXPECT_EQ(world.read("ALPHA/connections"), "");
}

}  // namespace
