// The registry calls the program uses, checked the same way on the simulated
// registry and on a real one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/registry_backend.h"

namespace {

class RegistryConformance : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (backend.testKey() + "\\Deep\\Er").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, &disposition),
                  ERROR_SUCCESS);
        EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    }
    void TearDown() override { RegCloseKey(key); }

    void set(const char* name, const std::string& data, DWORD type = REG_BINARY) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    std::vector<std::string> names() {
        std::vector<std::string> found;
        for (DWORD index = 0;; ++index) {
            char name[260] = {};
            DWORD length = sizeof name;
            LONG code = RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (code != ERROR_SUCCESS) {
                EXPECT_EQ(code, ERROR_NO_MORE_ITEMS);
                break;
            }
            EXPECT_EQ(length, std::strlen(name));
            found.push_back(name);
        }
        return found;
    }

    RegistryBackend backend;
    HKEY key = nullptr;
};

TEST_F(RegistryConformance, OpenCreateAndMissingKeys) {
    HKEY again = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (backend.testKey() + "\\deep\\ER").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(again);
    HKEY missing = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (backend.testKey() + "\\Nothing").c_str(), 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (backend.testKey() + "\\Deep").c_str(), 0, KEY_READ, &again),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, QueryWithSmallAndExactBuffers) {
    set("Record", std::string("\x01\x00\x02\x03", 4));
    BYTE data[8] = {};
    DWORD size = 3;
    EXPECT_EQ(RegQueryValueExA(key, "Record", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    size = 4;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "record", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(std::memcmp(data, "\x01\x00\x02\x03", 4), 0);
    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Record", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    set("Empty", "", REG_SZ);
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "Empty", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 0u);
}

TEST_F(RegistryConformance, MissingValuesAndTheEndOfTheValues) {
    EXPECT_EQ(RegDeleteValueA(key, "Missing"), ERROR_FILE_NOT_FOUND);
    BYTE data[4];
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    char name[260];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    set("LongerName", "x");
    length = 4;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    length = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryConformance, NamesDifferingOnlyInCaseAreOneValue) {
    set("Server", "1");
    set("SERVER", "2");  // replaces the data, keeps the spelling
    EXPECT_EQ(names(), std::vector<std::string>{"Server"});
    EXPECT_EQ(RegDeleteValueA(key, "server"), ERROR_SUCCESS);
    EXPECT_TRUE(names().empty());
}

TEST_F(RegistryConformance, EnumerationOrder) {
    for (const char* name : {"Zed", "Abe", "Mia"}) set(name, "", REG_SZ);
    std::vector<std::string> expected = backend.enumeratesInCreationOrder()
                                            ? std::vector<std::string>{"Zed", "Abe", "Mia"}
                                            : std::vector<std::string>{"Abe", "Mia", "Zed"};
    EXPECT_EQ(names(), expected) << backend.name();
    EXPECT_EQ(RegDeleteValueA(key, "Abe"), ERROR_SUCCESS);  // later values move up
    expected.erase(std::find(expected.begin(), expected.end(), "Abe"));
    EXPECT_EQ(names(), expected) << backend.name();
}

}  // namespace
