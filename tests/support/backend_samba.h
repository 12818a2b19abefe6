// The table's backend of the Linux program over real Samba servers
// (scripts/smb-servers.sh).
#pragma once

#include "tests/support/backend_world.h"
#include "tests/support/samba_lab.h"

#include "tests/support/backends.h"

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
