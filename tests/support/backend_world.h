// The table's backend of the Linux program over the simulated network.
#pragma once


#include "tests/support/backends.h"

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
