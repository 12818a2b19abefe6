// The registry and network calls on real SMB servers, through the smb host:
// what a run cannot see but a long session, a server or a buffer's edge
// shows. Run beside the Samba servers of scripts/smb-servers.sh (PRIM with
// admin:psecret, SILENT that never answers, GUEST that takes unknown
// accounts as its guest), whose folder VESKCFG_SMB_LAB names.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "tools/support/temp_world.h"

namespace {

// Before the first call, which settles the network for the process.
const bool kOnTheSmbNetwork = setenv("VESKCFG_NETWORK", "smb", 1) == 0;

const char kKey[] = "SOFTWARE\\VeskCfgHostTest";

DWORD connect(const char* server, const char* user, const char* password) {
    std::string remote = std::string("\\\\") + server + "\\ipc$";
    NETRESOURCEA resource = {RESOURCE_GLOBALNET, RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_GENERIC,
                             RESOURCEUSAGE_CONNECTABLE, nullptr, remote.data(), nullptr, nullptr};
    return WNetAddConnection2A(&resource, password, user, 0);
}

DWORD cancel(const char* server) {
    return WNetCancelConnection2A((std::string("\\\\") + server + "\\ipc$").c_str(), 0, TRUE);
}

std::string lab() {
    const char* folder = std::getenv("VESKCFG_SMB_LAB");
    return folder ? folder : "";
}

// The processes whose command line holds every one of the words.
std::vector<pid_t> processesWith(const std::vector<std::string>& words) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream file("/proc/" + std::string(entry->d_name) + "/cmdline");
        std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        bool all = !line.empty();
        for (const std::string& word : words) all = all && line.find(word) != std::string::npos;
        if (all) found.push_back(pid);
    }
    if (proc) closedir(proc);
    return found;
}

// The sessions PRIM's smbd holds, as Samba's smbstatus lists them.
int sessions() {
    std::string command = "smbstatus -s '" + lab() + "/PRIM/smb.conf' -b 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    int count = 0;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        if (std::isdigit(static_cast<unsigned char>(line[0]))) ++count;
    }
    pclose(pipe);
    return count;
}

class SmbHost : public ::testing::Test {
protected:
    void SetUp() override {
        if (lab().empty()) GTEST_SKIP() << "VESKCFG_SMB_LAB names no lab of Samba servers";
        ASSERT_TRUE(kOnTheSmbNetwork);
    }
    // PRIM's HKEY_LOCAL_MACHINE over a connection of this run.
    HKEY primRoot() {
        EXPECT_EQ(connect("PRIM", "admin", "psecret"), 0u);
        HKEY root = nullptr;
        EXPECT_EQ(RegConnectRegistryA("PRIM", HKEY_LOCAL_MACHINE, &root), 0);
        return root;
    }
    void done(HKEY root) {
        EXPECT_EQ(RegCloseKey(root), 0);
        EXPECT_EQ(cancel("PRIM"), 0u);
    }
    TempWorld world;
};

// The winreg requests of each kind that PRIM's winreg service has been
// sent: its log (the lab's servers log every request, rpc_srv:10) holds
// each one's parameters as "in: struct winreg_<Call>".
int requestsLogged(const std::string& call) {
    std::ifstream log(lab() + "/PRIM/log/log.rpcd_winreg");
    const std::string mark = "in: struct winreg_" + call;
    int count = 0;
    for (std::string line; std::getline(log, line);)
        if (line.find(mark) != std::string::npos && line.size() == line.find(mark) + mark.size()) ++count;
    return count;
}

// Every key opened on a server is closed there, its root too, and not
// only when the session ends: a long session would hold them all.
TEST_F(SmbHost, ClosesEveryKeyItOpens) {
    const int openedBefore = requestsLogged("OpenHKLM") + requestsLogged("OpenKey") + requestsLogged("CreateKey");
    const int closedBefore = requestsLogged("CloseKey");
    HKEY root = primRoot();
    HKEY keys[3] = {};
    ASSERT_EQ(RegOpenKeyExA(root, "SOFTWARE", 0, KEY_READ, &keys[0]), 0);
    ASSERT_EQ(RegCreateKeyExA(root, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &keys[1], nullptr), 0);
    ASSERT_EQ(RegOpenKeyExA(keys[0], "VeskCfgHostTest", 0, KEY_READ, &keys[2]), 0);
    for (HKEY key : keys) EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_EQ(RegCloseKey(root), 0);
    EXPECT_EQ(requestsLogged("OpenHKLM") + requestsLogged("OpenKey") + requestsLogged("CreateKey") - openedBefore, 4);
    EXPECT_EQ(requestsLogged("CloseKey") - closedBefore, 4);
    EXPECT_EQ(cancel("PRIM"), 0u);
}

// A cancelled connection ends the session: the server no longer holds it,
// and the next connection logs on again, with whatever it is given.
TEST_F(SmbHost, ACancelledConnectionEndsItsSession) {
    ASSERT_EQ(connect("PRIM", "admin", "psecret"), 0u);
    EXPECT_EQ(sessions(), 1);
    ASSERT_EQ(cancel("PRIM"), 0u);
    int left = -1;
    for (int i = 0; i < 100 && (left = sessions()) != 0; ++i) usleep(30000);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(connect("PRIM", "admin", "wrong"), static_cast<DWORD>(ERROR_LOGON_FAILURE));
    EXPECT_EQ(world.connections(), "");
}

// A name fits a buffer one longer than itself, for its NUL, and no shorter
// one, from the shortest to the longest Samba keeps (255 characters, where
// Windows keeps 16,383).
TEST_F(SmbHost, ValueNamesAtTheBufferEdge) {
    HKEY root = primRoot();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    for (size_t length : {size_t{1}, size_t{8}, size_t{255}}) {
        SCOPED_TRACE(length);
        const std::string name(length, 'N');
        ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_SZ, nullptr, 0), 0);
        std::vector<char> buffer(length + 2, 'x');
        DWORD size = static_cast<DWORD>(length);
        EXPECT_EQ(RegEnumValueA(key, 0, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
        EXPECT_EQ(size, length);
        EXPECT_EQ(buffer[0], 'x');
        size = static_cast<DWORD>(length + 1);
        EXPECT_EQ(RegEnumValueA(key, 0, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(size, length);
        EXPECT_TRUE(std::string(buffer.data()) == name);
        EXPECT_EQ(buffer[length + 1], 'x');
        EXPECT_EQ(RegDeleteValueA(key, name.c_str()), 0);
    }
    EXPECT_EQ(RegCloseKey(key), 0);
    done(root);
}

// A server that takes a request and answers late is busy, not absent: a
// call waits for it well past the few seconds that reaching one is given.
// PRIM's winreg service is stopped for six seconds under the call.
TEST_F(SmbHost, ASlowAnswerIsWaitedFor) {
    ASSERT_EQ(connect("PRIM", "admin", "psecret"), 0u);
    std::vector<pid_t> service = processesWith({"rpcd_winreg", lab() + "/PRIM/"});
    ASSERT_FALSE(service.empty());
    for (pid_t pid : service) kill(pid, SIGSTOP);
    std::thread resume([&] {
        std::this_thread::sleep_for(std::chrono::seconds(6));
        for (pid_t pid : service) kill(pid, SIGCONT);
    });
    auto started = std::chrono::steady_clock::now();
    HKEY root = nullptr;
    LONG code = RegConnectRegistryA("PRIM", HKEY_LOCAL_MACHINE, &root);
    auto waited = std::chrono::steady_clock::now() - started;
    resume.join();
    EXPECT_EQ(code, 0);
    EXPECT_GE(waited, std::chrono::seconds(5));
    done(root);
}

// A server that takes the connection and never answers is given up in
// seconds.
TEST_F(SmbHost, AServerThatNeverAnswersIsGivenUpInSeconds) {
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(connect("SILENT", "admin", "psecret"), static_cast<DWORD>(ERROR_BAD_NETPATH));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

// A server that takes an unknown account as its guest: the guest session
// is refused (5), and what Samba's library says of it goes to the trace,
// not to the administrator's standard error.
TEST_F(SmbHost, SambasOwnDiagnosticsStayOffStandardError) {
    testing::internal::CaptureStderr();
    DWORD code = connect("GUEST", "nosuch", "x");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(err, "");
    EXPECT_NE(world.trace().find("samba (level"), std::string::npos) << world.trace();
}

// A faults file in a folder named after a real server fails its calls as
// it would a world computer's, the n-th of them only when it says so.
TEST_F(SmbHost, ItsFaultsFileFailsItsCalls) {
    world.addComputer("PRIM");
    world.write("PRIM/faults", "RegOpenKeyExA 1013 2\nRegCloseKey 1722\n");
    HKEY root = primRoot();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(root, "SOFTWARE", 0, KEY_READ, &key), 0);
    EXPECT_EQ(RegCloseKey(key), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(RegOpenKeyExA(root, "SOFTWARE", 0, KEY_READ, &key), ERROR_CANTWRITE);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegCloseKey(root), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(cancel("PRIM"), 0u);
}

}  // namespace
