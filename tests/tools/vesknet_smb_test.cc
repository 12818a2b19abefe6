// vesknet on a real network: the lists of Samba servers read over SMB with
// the accounts the console stores, the states a cut-short md or rd leaves
// found and mended with VeskCfg's own commands, an unreachable primary a
// finding of its own. Run beside scripts/smb-servers.sh --down DOWN
// PRIM=admin:psecret DIST=dadmin:dsecret, whose folder VESKCFG_SMB_LAB names.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/samba_lab.h"
#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"

namespace {

const std::string kCheckPrim = "PRIM lists DIST, which has no role record; mend: VeskCfg md PRIM DIST, then "
                               "VeskCfg rd PRIM DIST if it should be detached\n";

class VesknetOverSmb : public ::testing::Test {
protected:
    void SetUp() override {
        if (sambaLab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers";
        setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
        world.addComputer("CONSOLE", {});
        world.storeRecord("PRIM", "PRIM", "admin", "psecret", 0);
        // DIST's account, for the commands that ask for it.
        world.write("askpass", "#!/bin/sh\ncase $1 in *Username*) echo dadmin ;; *) echo dsecret ;; esac\n");
        chmod((world.root() + "/askpass").c_str(), 0700);
    }
    RunResult veskcfg(const std::vector<std::string>& args) {
        RunOptions options;
        options.terminal = false;
        options.environment = {{"VESKCFG_NETWORK", "smb"}, {"VESKCFG_ASKPASS", world.root() + "/askpass"}};
        return runVeskCfg(VESKCFG_BINARY, args, options);
    }
    RunResult vesknet(const std::vector<std::string>& args) {
        RunOptions options;
        options.terminal = false;
        options.environment = {{"VESKCFG_NETWORK", "smb"}};
        return runVeskCfg(VESKNET_BINARY, args, options);
    }
    // check's lines, its status, and that it left no connection behind.
    std::pair<std::string, int> check() {
        RunResult checked = vesknet({"check"});
        EXPECT_EQ(world.read("CONSOLE/connections"), "");
        return {checked.out, checked.status};
    }
    TempWorld world;
};

const std::pair<std::string, int> kConsistent = {"consistent: every record and every list agree.\n", 0};

// A grouping md made over SMB is consistent, and show --json holds the list
// Samba's own net reads on PRIM.
TEST_F(VesknetOverSmb, AGroupingMadeOverSmbIsConsistent) {
    ASSERT_TRUE(putSambaList("PRIM", std::vector<std::string>{}, world.root()));
    ASSERT_EQ(veskcfg({"md", "PRIM", "DIST"}).status, 0);
    EXPECT_EQ(check(), kConsistent);
    RunResult shown = vesknet({"show", "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    nlohmann::json document = nlohmann::json::parse(shown.out);
    std::vector<std::string> listed;
    for (const auto& computer : document["computers"])
        if (computer["name"] == "PRIM") listed = computer["list"].get<std::vector<std::string>>();
    EXPECT_EQ(listed, sambaList("PRIM").value_or(std::vector<std::string>{"(no list)"}));
    EXPECT_EQ(listed, std::vector<std::string>{"DIST"});
}

// What an md or an rd cut short between its two writes leaves: found, with
// a mend of VeskCfg's commands that makes the grouping consistent again.
TEST_F(VesknetOverSmb, WhatACutShortChangeLeavesIsFoundAndMended) {
    struct Row {
        const char* what;
        bool distRecord;          // DIST's record, naming PRIM
        bool listed;              // PRIM lists DIST
        std::string finding;
        std::vector<std::vector<std::string>> mend;
    };
    const Row rows[] = {
        {"md cut short: the record and no list entry", true, false,
         "DIST's record names PRIM, which does not list it; mend: VeskCfg frd PRIM DIST\n", {{"frd", "PRIM", "DIST"}}},
        {"rd cut short: the list entry and no record", false, true, kCheckPrim,
         {{"md", "PRIM", "DIST"}, {"rd", "PRIM", "DIST"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.distRecord) world.storeRecord("DIST", "PRIM", "dadmin", "dsecret", 1);
        ASSERT_TRUE(putSambaList("PRIM", row.listed ? std::vector<std::string>{"DIST"} : std::vector<std::string>{},
                                 world.root()));
        auto [found, status] = check();
        EXPECT_EQ(found, row.finding);
        EXPECT_EQ(status, 1);
        for (const auto& command : row.mend) {
            RunResult mended = veskcfg(command);
            EXPECT_EQ(mended.status, 0) << mended.out;
        }
        EXPECT_EQ(check(), kConsistent);
        EXPECT_EQ(world.storedRecordBytes("DIST"), "");
        EXPECT_EQ(sambaList("PRIM"), std::vector<std::string>{});
    }
}

// A primary that cannot be reached is a finding of its own, with the code
// and its text; what its servers' records say is not held against them.
TEST_F(VesknetOverSmb, AnUnreachablePrimaryIsAFindingOfItsOwn) {
    world.storeRecord("DOWN", "DOWN", "admin", "psecret", 0);
    world.storeRecord("DIST", "DOWN", "dadmin", "dsecret", 1);
    auto [found, status] = check();
    EXPECT_EQ(found, "DOWN: 53 The network path was not found.; mend: check again once DOWN can be reached with the "
                     "account stored for it (VeskCfg lp DOWN shows why it cannot)\n");
    EXPECT_EQ(status, 1);
}

}  // namespace
