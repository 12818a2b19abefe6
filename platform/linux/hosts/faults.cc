#include "platform/linux/hosts/faults.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string_view>

#include "platform/linux/machine/lines.h"
#include "platform/linux/machine/trace.h"

namespace sim {

namespace {

const struct {
    const char* name;
    bool mayWrite;
} kCalls[kCallCount] = {
#define VESKCFG_CALL_ROW(name, writes) {#name, writes},
    VESKCFG_FAILABLE_CALLS(VESKCFG_CALL_ROW)
#undef VESKCFG_CALL_ROW
};

// With VESKCFG_CALLS set, each computer's call counts are written there at
// exit, "<COMPUTER> <call> <count>" a line: how a test learns which calls a
// command makes.
struct Computers {
    std::map<std::string, std::unique_ptr<ComputerFaults>> byFolder;
    ~Computers() {
        const char* path = std::getenv("VESKCFG_CALLS");
        if (!path || !*path) return;
        FILE* file = std::fopen(path, "a");
        if (!file) return;
        for (const auto& [folder, faults] : byFolder) {
            std::string computer = folder.substr(folder.find_last_of('/') + 1);
            for (size_t call = 0; call < kCallCount; ++call)
                if (faults->counts()[call])
                    std::fprintf(file, "%s %s %u\n", computer.c_str(), kCalls[call].name, faults->counts()[call]);
        }
        std::fclose(file);
    }
};

bool injecting = true;

Computers& computers() {
    static Computers all;
    return all;
}

// A code or a count: decimal digits only, 1 to 4294967295. No sign, and
// nothing that wraps: a line read as 0 would inject nothing, silently.
bool readPositive(const char* text, uint32_t& number) {
    uint64_t value = 0;
    for (const char* at = text; *at; ++at) {
        if (*at < '0' || *at > '9') return false;
        value = value * 10 + static_cast<uint64_t>(*at - '0');
        if (value > UINT32_MAX) return false;
    }
    number = static_cast<uint32_t>(value);
    return *text && value > 0;
}

}  // namespace

const char* callName(Call call) { return kCalls[static_cast<size_t>(call)].name; }

bool callNamed(const std::string& name, Call& call) {
    for (size_t i = 0; i < kCallCount; ++i) {
        if (name == kCalls[i].name) {
            call = static_cast<Call>(i);
            return true;
        }
    }
    return false;
}

ComputerFaults::ComputerFaults(std::string folder) : folder_(std::move(folder)) {}

bool mayWrite(Call call) { return kCalls[static_cast<size_t>(call)].mayWrite; }

void beforeWrite(Call call) {
    static const unsigned long stopAt = [] {
        const char* setting = std::getenv("VESKCFG_STOP_BEFORE_WRITE");
        return setting ? std::strtoul(setting, nullptr, 10) : 0ul;
    }();
    static unsigned long writes = 0;
    if (stopAt && mayWrite(call) && ++writes == stopAt) {
        std::fflush(stdout);
        raise(SIGSTOP);
    }
}

void injectFaults(bool inject) { injecting = inject; }

LONG ComputerFaults::check(Call call) {
    if (!injecting) return 0;
    size_t index = static_cast<size_t>(call);
    uint32_t count = ++counts_[index];
    for (const Rule& rule : rules_[index])
        if (rule.nth == 0 || rule.nth == count) return rule.code;
    return 0;
}

void ComputerFaults::refresh() {
    std::string path = folder_ + "/faults";
    FileIdentity identity = identityOf(path);
    if (read_ && identity == identity_) return;
    read_ = true;
    identity_ = identity;
    for (auto& rules : rules_) rules.clear();
    std::string content;
    if (!identity.exists || readWholeFile(path, content) != 0) return;
    size_t lineNumber = 0;
    for (std::string_view line : LinesOf(content)) {
        ++lineNumber;
        char name[128] = {}, code[32] = {}, nth[32] = {}, extra[2] = {};
        int fields = std::sscanf(std::string(line).c_str(), "%127s %31s %31s %1s", name, code, nth, extra);
        if (fields <= 0 || name[0] == '#') continue;
        Call call;
        uint32_t codeValue = 0, nthValue = 0;
        bool known = callNamed(name, call);
        bool good = known && fields >= 2 && fields <= 3 && readPositive(code, codeValue) &&
                    (fields == 2 || readPositive(nth, nthValue));
        if (!good) {
            // A misspelt call would otherwise inject nothing, silently.
            diagnose("%s, line %zu: %s; the line is ignored.", path.c_str(), lineNumber,
                     known ? "expected \"<call> <code>\" or \"<call> <code> <n>\", each number from 1 to 4294967295"
                           : "no call of that name");
            continue;
        }
        rules_[static_cast<size_t>(call)].push_back({static_cast<LONG>(codeValue), nthValue});
    }
}

ComputerFaults* faultsOf(const std::string& folder) {
    if (folder.empty()) return nullptr;
    auto& slot = computers().byFolder[folder];
    if (!slot) slot = std::make_unique<ComputerFaults>(folder);
    return slot.get();
}

LONG faultFor(const std::string& folder, Call call) {
    ComputerFaults* faults = faultsOf(folder);
    if (!faults) return 0;
    faults->refresh();
    return faults->check(call);
}

}  // namespace sim
