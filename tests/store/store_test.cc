// The record store and the distributed-server list over the local registry.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/registry.h"
#include "store/record_store.h"
#include "store/role_record.h"
#include "store/server_list.h"
#include "tools/support/temp_world.h"

namespace {

class StoreTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(sim::openKeyCount(), 0u); }
    TempWorld world;
};

TEST_F(StoreTest, WritesReadsAndDeletesRecords) {
    ASSERT_EQ(loadStore(0), 0);
    std::string bytes = roleRecordBytes("PRIM", 1, "user", "pw");
    DWORD size = ROLE_RECORD_SIZE;
    ASSERT_EQ(writeRecord("DIST", ROLE_RECORD_TYPE, bytes.data(), &size), 0);
    EXPECT_EQ(world.storedRecordBytes("DIST"), bytes);
    EXPECT_NE(world.read("ALPHA/hklm.reg").find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers\\DIST\\Vesklane]\n"
                                                "\"Slot_1\"=hex:50,52,49,4d,00"),
              std::string::npos);
    size = 0;
    EXPECT_EQ(deleteRecord("DIST", ROLE_RECORD_TYPE, &size), 0);
    EXPECT_EQ(world.storedRecordBytes("DIST"), "");
    size = 0;
    EXPECT_EQ(deleteRecord("DIST", ROLE_RECORD_TYPE, &size), ERROR_FILE_NOT_FOUND);
    char buffer[ROLE_RECORD_SIZE] = {};
    size = sizeof buffer;
    EXPECT_EQ(readRecord("NONE", ROLE_RECORD_TYPE, buffer, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(StoreTest, FaultsReachEachStoreOperation) {
    world.write("ALPHA/faults", "loadStore 1009\nwriteRecord 8\ndeleteRecord 1013\nreadRecord 1012\n");
    EXPECT_EQ(loadStore(0), 1009);
    char buffer[ROLE_RECORD_SIZE] = {};
    DWORD size = sizeof buffer;
    EXPECT_EQ(writeRecord("S", ROLE_RECORD_TYPE, buffer, &size), 8);
    size = 0;
    EXPECT_EQ(deleteRecord("S", ROLE_RECORD_TYPE, &size), 1013);
    size = sizeof buffer;
    EXPECT_EQ(readRecord("S", ROLE_RECORD_TYPE, buffer, &size), 1012);
}

// Without the product's key name the store does not know where its records
// are: every operation on one refuses with ERROR_BADKEY, and nothing is written.
TEST_F(StoreTest, WithoutTheProductNameNothingIsStoredElsewhere) {
    world.write("ALPHA/faults", "productInfo 1\n");
    std::string bytes = roleRecordBytes("PRIM", 0, "user", "pw");
    DWORD size = ROLE_RECORD_SIZE;
    EXPECT_EQ(writeRecord("PRIM", ROLE_RECORD_TYPE, bytes.data(), &size), ERROR_BADKEY);
    size = 0;
    EXPECT_EQ(deleteRecord("PRIM", ROLE_RECORD_TYPE, &size), ERROR_BADKEY);
    char buffer[ROLE_RECORD_SIZE] = {};
    size = sizeof buffer;
    EXPECT_EQ(readRecord("PRIM", ROLE_RECORD_TYPE, buffer, &size), ERROR_BADKEY);
    EXPECT_FALSE(world.exists("ALPHA/hklm.reg"));
}

std::vector<std::string> walk(const char* machine, LONG* openCode = nullptr) {
    HKEY rootKey = nullptr, listKey = nullptr;
    LONG code = openListForReading(&rootKey, &listKey, machine);
    if (openCode) *openCode = code;
    std::vector<std::string> names;
    if (code) return names;
    for (DWORD index = 0;; ++index) {
        char name[260] = {};
        DWORD length = 0;
        if (readListEntry(listKey, index, name, &length) != 0) break;
        names.push_back(name);
    }
    closeList(rootKey, listKey);
    return names;
}

TEST_F(StoreTest, ListKeepsOneEmptyValuePerServer) {
    LONG openCode = 0;
    EXPECT_TRUE(walk("ALPHA", &openCode).empty());
    EXPECT_EQ(openCode, ERROR_FILE_NOT_FOUND);  // no list yet, and none created
    EXPECT_FALSE(world.exists("ALPHA/hklm.reg"));

    EXPECT_EQ(changeListEntry("ALPHA", "ZED", 0), ERROR_FILE_NOT_FOUND);  // creates the empty key
    EXPECT_TRUE(walk("ALPHA", &openCode).empty());
    EXPECT_EQ(openCode, 0);

    EXPECT_EQ(changeListEntry("ALPHA", "ZED", 1), 0);
    EXPECT_EQ(changeListEntry("ALPHA", "ABE", 1), 0);
    EXPECT_EQ(changeListEntry("ALPHA", "ZED", 1), 0);  // twice: still one value
    EXPECT_EQ(walk("ALPHA"), (std::vector<std::string>{"ZED", "ABE"}));
    EXPECT_NE(world.read("ALPHA/hklm.reg").find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\"
                                                "VeskDistributedServers]\n\"ZED\"=hex(1):\n\"ABE\"=hex(1):\n"),
              std::string::npos);
    EXPECT_EQ(changeListEntry("ALPHA", "MISSING", 0), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(changeListEntry(nullptr, "ZED", 0), 0);
    EXPECT_EQ(walk(nullptr), (std::vector<std::string>{"ABE"}));
}

// This computer's own name goes to the local registry directly; the same name
// in other letters goes through RegConnectRegistryA.
TEST_F(StoreTest, OnlyTheExactLocalNameSkipsTheRegistryConnection) {
    world.write("ALPHA/faults", "RegConnectRegistryA 1722\n");
    EXPECT_EQ(changeListEntry("ALPHA", "X", 1), 0);
    EXPECT_EQ(changeListEntry("Alpha", "X", 1), 1722);
    LONG openCode = 0;
    walk("Alpha", &openCode);
    EXPECT_EQ(openCode, 1722);
}

TEST_F(StoreTest, RemoteListNeedsTheConnection) {
    world.addComputer("PRIM", {"a:b"});
    EXPECT_EQ(changeListEntry("PRIM", "X", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(changeListEntry("GONE", "X", 1), ERROR_BAD_NETPATH);
    world.write("ALPHA/connections", "\\\\PRIM\\ipc$ a\n");
    EXPECT_EQ(changeListEntry("PRIM", "X", 1), 0);
    EXPECT_EQ(walk("PRIM"), std::vector<std::string>{"X"});
    EXPECT_FALSE(world.exists("ALPHA/hklm.reg"));
}

}  // namespace
