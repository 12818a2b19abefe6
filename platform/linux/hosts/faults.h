// Failures injected into the Win32 calls on Linux, from a computer's faults file:
// lines "<call> <code>" (every such call fails) or "<call> <code> <n>" (only
// the n-th, counted per run and per computer).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/machine/files.h"
#include "platform/win32.h"

namespace sim {

// The calls that can be made to fail, one row a call, as SQLite's
// aSyscall[] holds its system calls: the name the faults file uses, and
// whether the call may change something on a computer (its registry, or the
// console's connections). The enum, the names and the writers all come from
// this one table; a new call is one more row.
#define VESKCFG_FAILABLE_CALLS(ROW)                                                                       \
    ROW(RegOpenKeyExA, false) ROW(RegQueryValueExA, false) ROW(RegCreateKeyExA, true)                      \
    ROW(RegSetValueExA, true) ROW(RegSetKeyValueA, true) ROW(RegDeleteValueA, true) ROW(RegEnumValueA, false) \
    ROW(RegConnectRegistryA, false) ROW(RegCloseKey, false) ROW(RegFlushKey, false)                         \
    ROW(WNetAddConnection2A, true) ROW(WNetCancelConnection2A, true) ROW(GetComputerNameA, false)            \
    ROW(FormatMessageA, false) ROW(loadStore, false) ROW(readRecord, false) ROW(writeRecord, false)           \
    ROW(deleteRecord, false) ROW(commitStore, false) ROW(productInfo, false)

enum class Call {
#define VESKCFG_CALL_ENUM(name, writes) name,
    VESKCFG_FAILABLE_CALLS(VESKCFG_CALL_ENUM)
#undef VESKCFG_CALL_ENUM
};
#define VESKCFG_CALL_COUNT(name, writes) +1
constexpr size_t kCallCount = 0 VESKCFG_FAILABLE_CALLS(VESKCFG_CALL_COUNT);
#undef VESKCFG_CALL_COUNT
const char* callName(Call call);
bool callNamed(const std::string& name, Call& call);

class ComputerFaults {
public:
    explicit ComputerFaults(std::string folder);
    // Counts the call; 0, or the code with which it must fail.
    LONG check(Call call);
    // Reads the faults file again when it changed.
    void refresh();
    const std::string& folder() const { return folder_; }
    const std::array<uint32_t, kCallCount>& counts() const { return counts_; }

private:
    struct Rule {
        LONG code;
        uint32_t nth;  // 0: every call
    };
    std::string folder_;
    FileIdentity identity_;
    bool read_ = false;
    std::array<std::vector<Rule>, kCallCount> rules_;
    std::array<uint32_t, kCallCount> counts_ = {};
};

// Tools that only read a world (vesknet, the tests' audit) must see it as it
// is: with false, no call of this process fails on purpose.
void injectFaults(bool inject);

// The calls that may change something on a computer: its registry, or the
// console's connections (the table's second column).
bool mayWrite(Call call);

// With VESKCFG_STOP_BEFORE_WRITE=N, the process stops itself (SIGSTOP) just
// before the N-th call of the run that may write, on any computer: where a
// test kills it, as a power loss would, to see what a change cut short
// leaves.
void beforeWrite(Call call);

// The faults of the computer whose folder this is; null for no folder. The
// object lives as long as the process, so a key handle may keep it.
ComputerFaults* faultsOf(const std::string& folder);

// The faults file as it is now (read again when it changed), then the call
// counted and checked: for every call but the steps of a walk, so that a
// change to the file is seen at the next open or write.
LONG faultFor(const std::string& folder, Call call);

}  // namespace sim
