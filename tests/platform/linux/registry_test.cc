// The simulated registry behaves as Windows does, and keeps its hive files
// whole and readable.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/linux/registry.h"
#include "platform/win32.h"
#include "tools/support/temp_world.h"

namespace {

HKEY createKey(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    return key;
}

void setString(HKEY key, const char* name, const char* text) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), strlen(text) + 1), 0);
}

std::vector<std::string> valueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[260] = {};
        DWORD length = sizeof name;
        LONG code = RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (code == ERROR_NO_MORE_ITEMS) break;
        EXPECT_EQ(code, 0);
        names.push_back(name);
    }
    return names;
}

class RegistryTest : public ::testing::Test {
protected:
    TempWorld world;
};

TEST_F(RegistryTest, KeepsCreationOrderAndSpellingAcrossRuns) {
    HKEY key = createKey("SOFTWARE\\Test\\Deep");  // missing parents are created
    setString(key, "Zeta", "z");
    setString(key, "alpha", "a");
    setString(key, "Mid", "m");
    setString(key, "ZETA", "again");  // same value: keeps its name and place
    const BYTE binary[] = {0, 1, 0xFF, 0x22, '\\', 0};
    ASSERT_EQ(RegSetValueExA(key, "Bin", 0, REG_BINARY, binary, sizeof binary), 0);
    ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0), 0);
    ASSERT_EQ(RegDeleteValueA(key, "ALPHA"), 0);
    ASSERT_EQ(RegCloseKey(key), 0);

    // What a person reading the file sees.
    EXPECT_EQ(world.read("ALPHA/hklm.reg"),
              "REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Deep]\n"
              "\"Zeta\"=\"again\"\n"
              "\"Mid\"=\"m\"\n"
              "\"Bin\"=hex:00,01,ff,22,5c,00\n"
              "\"Empty\"=hex(1):\n\n");

    // Another process (a fresh cache) reads back exactly that.
    pid_t child = fork();
    if (child == 0) {
        HKEY reopened = nullptr;
        bool ok = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\TEST\\deep", 0, KEY_READ, &reopened) == 0;
        ok = ok && valueNames(reopened) == std::vector<std::string>{"Zeta", "Mid", "Bin", "Empty"};
        BYTE data[16] = {};
        DWORD size = sizeof data, type = 0;
        ok = ok && RegQueryValueExA(reopened, "bin", nullptr, &type, data, &size) == 0 && type == REG_BINARY &&
             size == 6 && memcmp(data, binary, 6) == 0;
        size = sizeof data;
        ok = ok && RegQueryValueExA(reopened, "Empty", nullptr, &type, data, &size) == 0 && type == REG_SZ && size == 0;
        RegCloseKey(reopened);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A hive of megabytes is read into memory of another kind than a small one;
// every name reads back, the last byte of the file included.
TEST_F(RegistryTest, ReadsAndWritesBackAHiveOfMegabytesWhole) {
    std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big]\n";
    std::vector<std::string> expected;
    for (int i = 0; i < 170000; ++i) {
        expected.push_back("DISTRIBUTED" + std::to_string(i));
        text += "\"" + expected.back() + "\"=hex(1):\n";
    }
    expected.push_back("Last");
    text += "\"Last\"=\"z\"";  // no line end
    ASSERT_GT(text.size(), 4u << 20);
    world.write("ALPHA/hklm.reg", text);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Big", 0, KEY_READ, &key), 0);
    EXPECT_EQ(valueNames(key), expected);
    char data[4] = {};
    DWORD size = sizeof data, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "last", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), 0);
    EXPECT_EQ(std::string(data, size), std::string("z", 2));
    RegCloseKey(key);
    // Written back with a key more, the unchanged stretches copied as they are.
    HKEY added = createKey("SOFTWARE\\Added");
    RegCloseKey(added);
    const std::string after = world.read("ALPHA/hklm.reg");
    EXPECT_TRUE(after == text + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]\n\n")  // no diff of megabytes
        << after.size() << " bytes, " << text.size() + 39 << " expected";
}

TEST_F(RegistryTest, AnswersWithWindowsCodes) {
    HKEY key = createKey("SOFTWARE\\Codes");
    setString(key, "Name", "0123456789");
    HKEY missing = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SOFTWARE", 0, KEY_READ, &missing), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Codes", 0, KEY_READ, &missing), ERROR_BAD_PATHNAME);
    HKEY unstorable = nullptr;  // a hive file cannot carry a control character in a key's name
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\a\nb", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &unstorable,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(unstorable, nullptr);

    BYTE small[4] = {};
    DWORD size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Other", nullptr, nullptr, small, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, sizeof small);
    EXPECT_EQ(RegDeleteValueA(key, "Other"), ERROR_FILE_NOT_FOUND);

    char name[4] = {'x', 0, 0, 0};
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, sizeof name);  // unchanged, as on Windows
    EXPECT_STREQ(name, "x");
    char wide[260] = {};
    length = sizeof wide;
    EXPECT_EQ(RegEnumValueA(key, 1, wide, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Codes", 0, KEY_READ, &readOnly), 0);
    EXPECT_EQ(RegSetValueExA(readOnly, "New", 0, REG_SZ, nullptr, 0), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetKeyValueA(readOnly, "Sub", "New", REG_SZ, nullptr, 0), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Codes\\Sub", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(readOnly), 0);
    EXPECT_EQ(RegCloseKey(readOnly), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), 0);
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_EQ(sim::openKeyCount(), 0u);
}

// A hive whose headers cannot be read is never written and fails every
// call; a key whose value lines cannot be read fails the calls on its
// values, while the rest of the hive is used and those lines are kept.
TEST_F(RegistryTest, UnreadableHivesAndKeysAreNeverOverwritten) {
    const std::string badHeader = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n\"v\"=\"x\"\n";
    const std::string badValue = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\nthis is not a value\n";
    const struct {
        const std::string& text;
        LONG open, query, create;
        std::string after;  // the file once SOFTWARE\New was asked for
    } kCases[] = {
        {badHeader, ERROR_BADDB, ERROR_INVALID_HANDLE, ERROR_BADDB, badHeader},
        {badValue, 0, ERROR_BADDB, 0, badValue + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\n\n"},
    };
    for (const auto& c : kCases) {
        world.write("ALPHA/hklm.reg", c.text);
        HKEY key = nullptr, created = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &key), c.open);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), c.query);
        if (key) {
            EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, nullptr, 0), ERROR_BADDB);
        }
        EXPECT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE", "v", REG_SZ, nullptr, 0), ERROR_BADDB);
        EXPECT_EQ(world.read("ALPHA/hklm.reg"), c.text);
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &created, nullptr),
                  c.create);
        EXPECT_EQ(world.read("ALPHA/hklm.reg"), c.after);
        RegCloseKey(key);
        RegCloseKey(created);
    }
}

// What another process changed is met by a later call: a key it deleted
// fails each call on its handle, and a header that cannot be read, first
// met on the way to a key that is created, fails the creation and is kept.
TEST_F(RegistryTest, ChangesMetLaterFailTheCallsThatMeetThem) {
    world.write("ALPHA/hklm.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n\"v\"=\"x\"\n\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\n");
    HKEY gone = nullptr, kept = nullptr, created = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone", 0, KEY_READ, &gone), 0);
    world.write("ALPHA/hklm.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\n");
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", 0, KEY_READ, &kept), 0);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(gone, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueExA(gone, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);

    const std::string lateHeader = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\a\x01" "b]\n";
    world.write("ALPHA/hklm.reg", lateHeader);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                              nullptr),
              ERROR_BADDB);
    EXPECT_EQ(world.read("ALPHA/hklm.reg"), lateHeader);
    RegCloseKey(gone);
    RegCloseKey(kept);
}

// The handles of one process share one hive: each sees the others' changes
// and its own, a walk starts again after a change, and a change whose write
// failed is seen by none.
TEST_F(RegistryTest, HandlesOfOneProcessSeeOneHive) {
    world.write("ALPHA/hklm.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Seen]\n\"A\"=\"\"\n\"B\"=\"\"\n\"C\"=\"\"\n\"D\"=\"\"\n");
    HKEY writer = nullptr, reader = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Seen", 0, KEY_ALL_ACCESS, &writer), 0);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Seen", 0, KEY_READ, &reader), 0);
    auto nameAt = [](HKEY key, DWORD index) {
        char name[16] = {};
        DWORD length = sizeof name;
        return RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) ? "-" : std::string(name);
    };
    EXPECT_EQ(nameAt(reader, 0) + nameAt(reader, 1) + nameAt(writer, 0), "ABA");
    ASSERT_EQ(RegDeleteValueA(writer, "A"), 0);
    EXPECT_EQ(nameAt(reader, 1) + nameAt(writer, 1) + nameAt(reader, 0), "CCB");

    pid_t child = fork();
    if (child == 0) {
        // Room for no more than the file holds now.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {static_cast<rlim_t>(world.read("ALPHA/hklm.reg").size()), RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        const BYTE more[64] = {};
        bool failed = RegSetValueExA(writer, "Lost", 0, REG_BINARY, more, sizeof more) != 0;
        DWORD size = 0;
        bool unseen = RegQueryValueExA(reader, "Lost", nullptr, nullptr, nullptr, &size) == ERROR_FILE_NOT_FOUND &&
                      RegQueryValueExA(writer, "Lost", nullptr, nullptr, nullptr, &size) == ERROR_FILE_NOT_FOUND;
        _exit(failed && unseen && nameAt(reader, 2) == "D" ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    RegCloseKey(reader);
    RegCloseKey(writer);
}

TEST_F(RegistryTest, FilesAreForTheOwnerOnly) {
    RegCloseKey(createKey("SOFTWARE\\Private"));
    struct stat info;
    ASSERT_EQ(stat((world.root() + "/ALPHA/hklm.reg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
    RegCloseKey(createKey("SOFTWARE\\Busy"));
    constexpr int kWriters = 6, kValuesEach = 25;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        pid_t child = fork();
        if (child == 0) {
            HKEY key = nullptr;
            bool ok = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Busy", 0, KEY_ALL_ACCESS, &key) == 0;
            for (int i = 0; ok && i < kValuesEach; ++i) {
                std::string name = "W";
                name += std::to_string(writer) + "_" + std::to_string(i);
                ok = RegSetValueExA(key, name.c_str(), 0, REG_SZ, nullptr, 0) == 0;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Busy", 0, KEY_READ, &key), 0);
    EXPECT_EQ(valueNames(key).size(), static_cast<size_t>(kWriters * kValuesEach));
    RegCloseKey(key);
}

// A run killed in the middle of its writes leaves a whole hive behind.
TEST_F(RegistryTest, KilledWriterLeavesAWholeHive) {
    RegCloseKey(createKey("SOFTWARE\\Killed"));
    pid_t child = fork();
    if (child == 0) {
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Killed", 0, KEY_ALL_ACCESS, &key);
        for (int i = 0;; ++i) RegSetValueExA(key, std::to_string(i).insert(0, "V").c_str(), 0, REG_SZ, nullptr, 0);
    }
    usleep(100000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Killed", 0, KEY_READ, &key), 0);
    EXPECT_GT(valueNames(key).size(), 0u);
    RegCloseKey(key);
}

// Each call the faults file names fails with its code, and once the line
// is gone works again. The reads and a walk's steps see the file as the last
// open or change found it.
TEST_F(RegistryTest, FaultsFileFailsTheNamedCall) {
    world.addComputer("PRIM", {"admin:pw"});
    HKEY key = createKey("SOFTWARE\\Faulty");
    auto reopened = [] {  // an open, at which the faults file is read again
        HKEY other = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &other) == 0) RegCloseKey(other);
    };
    char text[260];
    DWORD length = 0;
    NETRESOURCEA prim = {};
    prim.lpRemoteName = const_cast<char*>("\\\\PRIM\\ipc$");
    struct Row {
        const char* line;  // of the faults file, on ALPHA unless it names PRIM
        std::function<LONG()> call;
    };
    const Row rows[] = {
        {"RegOpenKeyExA 1013", [&] {
             HKEY opened = nullptr;
             LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Faulty", 0, KEY_READ, &opened);
             if (code == 0) RegCloseKey(opened);
             return code;
         }},
        {"RegCreateKeyExA 1013", [&] {
             HKEY made = nullptr;
             LONG code = RegCreateKeyExA(key, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr);
             if (code == 0) RegCloseKey(made);
             return code;
         }},
        {"RegSetValueExA 1013", [&] { return RegSetValueExA(key, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2); }},
        {"RegSetKeyValueA 1013", [&] { return RegSetKeyValueA(key, "Sub", "W", REG_SZ, "w", 2); }},
        {"RegQueryValueExA 1013", [&] {
             reopened();
             length = sizeof text;
             return RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &length);
         }},
        {"RegEnumValueA 1010", [&] {
             reopened();
             length = sizeof text;
             return RegEnumValueA(key, 0, text, &length, nullptr, nullptr, nullptr, nullptr);
         }},
        {"RegFlushKey 1013", [&] { return RegFlushKey(key); }},
        {"RegCloseKey 1013", [&] {
             HKEY opened = nullptr;
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Faulty", 0, KEY_READ, &opened);
             return RegCloseKey(opened);
         }},
        {"RegDeleteValueA 1013", [&] {
             LONG code = RegDeleteValueA(key, "V");
             RegSetValueExA(key, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2);
             return code;
         }},
        {"GetComputerNameA 1013", [&] {  // FALSE, which the row reads as the line's code
             DWORD size = sizeof text;
             return GetComputerNameA(text, &size) ? 0L : 1013L;
         }},
        {"PRIM WNetCancelConnection2A 1013", [&] {
             WNetAddConnection2A(&prim, "pw", "admin", 0);
             return static_cast<LONG>(WNetCancelConnection2A(prim.lpRemoteName, 0, TRUE));
         }},
    };
    for (const Row& row : rows) {
        std::string line = row.line;
        std::string computer = line.rfind("PRIM ", 0) == 0 ? "PRIM" : "ALPHA";
        if (computer == "PRIM") line = line.substr(5);
        const LONG code = std::stol(line.substr(line.find(' ') + 1));
        world.write(computer + "/faults", line + "\n");
        EXPECT_EQ(row.call(), code) << row.line;
        world.write(computer + "/faults", "");
        EXPECT_EQ(row.call(), 0) << row.line << ", the line gone";
    }
    RegCloseKey(key);
}

// A line the faults file cannot be sure of injects nothing, and says so with
// its number; the lines around it still count.
TEST_F(RegistryTest, FaultsFileLinesThatInjectNothingSaySo) {
    HKEY key = createKey("SOFTWARE\\Faulty");
    world.write("ALPHA/faults", "# RegSetValueExA 5\nRegSetValueExA 1.5\nRegSetValueExA -5\nRegSetValueExA 0\n"
                                "RegSetValueExB 5\nRegSetValueExA 5 1 x\nRegSetValueExA 4294967296\nRegFlushKey 1013\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegFlushKey(key), ERROR_CANTWRITE);
    EXPECT_EQ(RegSetValueExA(key, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string path = world.root() + "/ALPHA/faults";
    const std::string expected = "expected \"<call> <code>\" or \"<call> <code> <n>\", each number from 1 to 4294967295";
    for (const std::string& line : {path + ", line 2: " + expected, path + ", line 3: " + expected,
                                    path + ", line 4: " + expected, path + ", line 5: no call of that name",
                                    path + ", line 6: " + expected, path + ", line 7: " + expected})
        EXPECT_NE(said.find(line + "; the line is ignored.\n"), std::string::npos) << line << "\n" << said;
    EXPECT_EQ(said.find("line 1:"), std::string::npos) << said;
    RegCloseKey(key);
}

// A remote registry is reached only over an open ipc$ connection; the local
// computer, whatever the letter case, directly.
TEST_F(RegistryTest, ConnectRegistryNeedsAReachableConnectedComputer) {
    world.addComputer("PRIM", {"admin:pw"});
    world.addComputer("DOWN", {"admin:pw"});
    world.write("DOWN/offline", "");
    HKEY root = nullptr;
    EXPECT_EQ(RegConnectRegistryA("NOWHERE", HKEY_LOCAL_MACHINE, &root), ERROR_BAD_NETPATH);
    EXPECT_EQ(RegConnectRegistryA("DOWN", HKEY_LOCAL_MACHINE, &root), ERROR_BAD_NETPATH);
    EXPECT_EQ(RegConnectRegistryA("PRIM", HKEY_LOCAL_MACHINE, &root), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegConnectRegistryA("alpha", HKEY_LOCAL_MACHINE, &root), 0);
    RegCloseKey(root);

    world.write("ALPHA/connections", "\\\\PRIM\\ipc$ admin\n");
    ASSERT_EQ(RegConnectRegistryA("prim", HKEY_LOCAL_MACHINE, &root), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, "SOFTWARE\\There", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    RegCloseKey(key);
    RegCloseKey(root);
    EXPECT_NE(world.read("PRIM/hklm.reg").find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\There]"), std::string::npos);
    EXPECT_FALSE(world.exists("ALPHA/hklm.reg"));
}

}  // namespace
