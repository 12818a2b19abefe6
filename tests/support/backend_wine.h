// The table's backend of VeskCfg.exe under Wine, over the real registry and console
// and our test network provider as its mpr.dll.
#pragma once

#include <sys/wait.h>

#include "tests/support/backends.h"

const char kWine[] = "/usr/lib/wine/wine64";

// Runs a Windows program under Wine to its end. Now and then Wine's start of
// a program ends with status 1 and not a word, before the program runs (seen
// for regedit and for VeskCfg.exe alike, about one start in a thousand):
// a run that ends with a failure having said nothing on any output never got
// to run, and is started again, three times at most, with a line on standard
// error each time. Every program run here says something when it fails.
inline RunResult runUnderWine(const std::vector<std::string>& args, const RunOptions& options) {
    RunResult run;
    for (int start = 1; start <= 3; ++start) {
        run = runVeskCfg(kWine, args, options);
        if (run.status == 0 || !run.out.empty() || !run.err.empty() || !run.echo.empty()) break;
        std::fprintf(stderr, "wine %s ended with %d and said nothing (start %d of 3)\n", args[0].c_str(), run.status, start);
    }
    return run;
}

// One of Wine's own programs, with no terminal; its standard output.
inline RunResult wineRun(const std::vector<std::string>& args) {
    RunOptions options;
    options.terminal = false;
    return runUnderWine(args, options);
}
inline std::string wine(const std::vector<std::string>& args) { return wineRun(args).out; }

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
        // The registry as the row wants it, through Wine's own reg.exe.
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
        importRegistry("Z:" + replaced(network_, "/", "\\") + "\\setup.reg");
    }

    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& keys) override {
        RunOptions options;
        options.keys = keys;
        options.inputOnTerminal = true;
        std::vector<std::string> wineArgs = {program_ + "/VeskCfg.exe"};
        wineArgs.insert(wineArgs.end(), args.begin(), args.end());
        return runUnderWine(wineArgs, options);
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
    // Not with regedit, which ends with 0 whatever its import did: a failed
    // set-up left the row on the registry the row before left. reg.exe says
    // how an import went.
    void importRegistry(const std::string& file) {
        RunResult imported = wineRun({"reg", "import", file});
        EXPECT_EQ(imported.status, 0) << "the row's registry was not set up: " << imported.out << imported.err;
    }

    std::string program_;
    std::string network_;
    std::string primary_;
};
