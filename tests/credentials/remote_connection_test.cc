// The simulated network's rules, and RemoteConnection over them.
#include "credentials/remote_connection.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/result_codes.h"
#include "store/role_record.h"
#include "tests/credentials/fake_console.h"
#include "tools/support/temp_world.h"

namespace {

DWORD add(const char* remoteName, const char* user, const char* password) {
    char name[260];
    std::strcpy(name, remoteName);
    NETRESOURCEA resource = {};
    resource.dwScope = RESOURCE_GLOBALNET;
    resource.dwUsage = RESOURCEUSAGE_CONNECTABLE;
    resource.lpRemoteName = name;
    return WNetAddConnection2A(&resource, password, user, 0);
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.addComputer("SRV", {"admin:Secret", "other:pw"});
        world.addComputer("DOWN", {"admin:Secret"});
        world.write("DOWN/offline", "");
    }
    TempWorld world;
};

TEST_F(NetworkTest, AddConnectionFollowsTheServersRules) {
    EXPECT_EQ(add("\\\\NOWHERE\\ipc$", "admin", "Secret"), 53u);
    EXPECT_EQ(add("\\\\DOWN\\ipc$", "admin", "Secret"), 53u);
    EXPECT_EQ(add("\\\\SRV\\c$", "admin", "Secret"), 67u);
    for (const char* otherForm : {"SRV\\ipc$", "\\\\SRV", "\\\\SRV\\ipc$\\x", "\\\\\\ipc$"})
        EXPECT_EQ(add(otherForm, "admin", "Secret"), static_cast<DWORD>(ERROR_NO_NET_OR_BAD_PATH)) << otherForm;
    EXPECT_EQ(add("\\\\SRV\\ipc$", "admin", "secret"), 1326u);  // the password is exact
    EXPECT_EQ(add("\\\\SRV\\ipc$", "nobody", "Secret"), 1326u);
    EXPECT_EQ(add("\\\\srv\\IPC$", "ADMIN", "Secret"), 0u);  // the rest is not case-sensitive
    EXPECT_EQ(add("\\\\SRV\\ipc$", "admin", "Secret"), 0u);
    EXPECT_EQ(world.connections(), "\\\\srv\\IPC$ ADMIN\n");  // recorded once
    EXPECT_EQ(add("\\\\SRV\\ipc$", "other", "pw"), 1219u);
    EXPECT_EQ(WNetCancelConnection2A("\\\\SRV\\ipc$", 0, TRUE), 0u);
    EXPECT_EQ(WNetCancelConnection2A("\\\\SRV\\ipc$", 0, TRUE), 2250u);
    EXPECT_EQ(world.connections(), "");
}

TEST_F(NetworkTest, StoredCredentialsConnectWithoutAPrompt) {
    world.storeRecord("SRV", "SRV", "admin", "Secret", 0);
    fakeConsole() = FakeConsole{};
    char userName[64] = {}, password[64] = {};
    EXPECT_EQ(RemoteConnection("SRV", "ipc$", userName, password), 0);
    EXPECT_STREQ(userName, "admin");
    EXPECT_STREQ(password, "Secret");
    EXPECT_EQ(fakeConsole().nextKey, 0u);
    EXPECT_EQ(world.connections(), "\\\\SRV\\ipc$ admin\n");
}

TEST_F(NetworkTest, RejectedStoredPasswordIsNotAskedAgain) {
    world.storeRecord("SRV", "SRV", "admin", "wrong", 0);
    fakeConsole() = FakeConsole{};
    EXPECT_EQ(RemoteConnection("SRV", "ipc$", nullptr, nullptr), 1326);
    EXPECT_EQ(fakeConsole().nextKey, 0u);
}

TEST_F(NetworkTest, TypedCredentialsAreHandedBack) {
    fakeConsole() = FakeConsole({'o', 't', 'h', 'e', 'r', 13, 'p', 'w', 13});
    char userName[64] = {}, password[64] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(RemoteConnection("SRV", "ipc$", userName, password), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(userName, "other");
    EXPECT_STREQ(password, "pw");
}

TEST_F(NetworkTest, EscMakesNoAttempt) {
    fakeConsole() = FakeConsole({'a', 27});
    char userName[64] = "untouched";
    testing::internal::CaptureStdout();
    EXPECT_EQ(RemoteConnection("SRV", "ipc$", userName, nullptr), RESULT_CANCELLED);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(userName, "untouched");
    EXPECT_EQ(world.trace(), "");
}

// A connection under another account (1219) is cancelled once, by force, and
// the connection tried once more; a second 1219 is the result.
TEST(CredentialConflict, OneForcedCancelAndOneRetry) {
    struct Case {
        const char* what;
        const char* file;
        const char* content;
        int result;
        const char* connectionsAfter;
    };
    const Case cases[] = {
        {"the retry succeeds", "ALPHA/connections", "\\\\SRV\\ipc$ other\n", 0, "\\\\SRV\\ipc$ admin\n"},
        {"the retry meets 1219 again", "SRV/faults", "WNetAddConnection2A 1219\n", 1219, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempWorld world;
        world.addComputer("SRV", {"admin:Secret"});
        world.storeRecord("SRV", "SRV", "admin", "Secret", 0);
        world.write(c.file, c.content);
        EXPECT_EQ(RemoteConnection("SRV", "ipc$", nullptr, nullptr), c.result);
        EXPECT_EQ(count(world.trace(), "WNetCancelConnection2A \\\\SRV\\ipc$"), 1u);
        EXPECT_EQ(count(world.trace(), "WNetAddConnection2A"), 2u);
        EXPECT_EQ(world.connections(), c.connectionsAfter);
    }
}

TEST_F(NetworkTest, NameTooLongForTheRemoteNameIsRefused) {
    std::string name(253, 'S');
    EXPECT_EQ(RemoteConnection(name.c_str(), "ipc$", nullptr, nullptr), ERROR_INVALID_NAME);
}

}  // namespace
