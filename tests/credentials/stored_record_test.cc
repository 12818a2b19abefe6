#include "credentials/stored_record.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/registry.h"
#include "store/role_record.h"
#include "tools/support/temp_world.h"

namespace {

const char kRecordKey[] = "SOFTWARE\\Tallmere\\Servers\\SRV\\Vesklane";

void setSlot(const char* keyPath, const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    ASSERT_EQ(RegSetValueExA(key, "Slot_1", 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()),
              0);
    RegCloseKey(key);
}

struct Lookup {
    LONG code;
    DWORD size;
    unsigned char record[ROLE_RECORD_SIZE];
};

Lookup lookUp(const char* server) {
    Lookup result = {};
    result.size = ROLE_RECORD_SIZE;
    result.code = StoredRecordLookup(server, ROLE_RECORD_TYPE, result.record, &result.size);
    return result;
}

class StoredRecordTest : public ::testing::Test {
protected:
    TempWorld world;
    void TearDown() override { EXPECT_EQ(sim::openKeyCount(), 0u); }
};

TEST_F(StoredRecordTest, ReadsTheRecordTheStoreWrote) {
    world.storeRecord("SRV", "SRV", "admin", "secret", 0);
    Lookup found = lookUp("SRV");
    EXPECT_EQ(found.code, 0);
    EXPECT_EQ(found.size, 76u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(found.record), 76), roleRecordBytes("SRV", 0, "admin", "secret"));
}

TEST_F(StoredRecordTest, MissingKeyOrValueIsNoRecord) {
    Lookup missingKey = lookUp("SRV");
    EXPECT_EQ(missingKey.code, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missingKey.size, 76u);  // left as given
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(key);
    EXPECT_EQ(lookUp("SRV").code, ERROR_FILE_NOT_FOUND);
}

TEST_F(StoredRecordTest, ShortValueLeavesTheRestOfTheBuffer) {
    setSlot(kRecordKey, "SRV");
    Lookup found = lookUp("SRV");
    EXPECT_EQ(found.code, 0);
    EXPECT_EQ(found.size, 3u);
    for (int i = 3; i < ROLE_RECORD_SIZE; ++i) EXPECT_EQ(found.record[i], 0) << i;
}

TEST_F(StoredRecordTest, LongValueIsMoreData) {
    setSlot(kRecordKey, std::string(80, 'x'));
    Lookup found = lookUp("SRV");
    EXPECT_EQ(found.code, ERROR_MORE_DATA);
    EXPECT_EQ(found.size, 80u);
}

TEST_F(StoredRecordTest, WithoutAProductNameThePathEndsInTallmere) {
    world.write("ALPHA/faults", "productInfo 1\n");
    setSlot("SOFTWARE\\Tallmere\\Servers\\SRV\\Tallmere", roleRecordBytes("SRV", 0, "a", "b"));
    EXPECT_EQ(lookUp("SRV").code, 0);
    char name[260] = "unchanged";
    EXPECT_EQ(lookupProductKeyName(ROLE_RECORD_TYPE, name), 0);
    EXPECT_STREQ(name, "unchanged");
}

TEST_F(StoredRecordTest, OverlongPathIsRefusedWithoutOverrun) {
    std::string name(250, 'N');
    EXPECT_EQ(lookUp(name.c_str()).code, ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace
