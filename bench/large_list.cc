// Times md onto a primary whose list holds 100,000 servers, and ld of that
// primary: each run is the real binary, process start included (and, for md,
// the typing of the new server's credentials at its prompt).
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/support/temp_world.h"
#include "tools/support/run_veskcfg.h"

namespace {

constexpr int kListed = 100000;
constexpr int kRuns = 5;

double secondsOf(const std::vector<std::string>& arguments, int& status, const std::string& keys = "") {
    RunOptions options;
    if (!keys.empty()) options.keys = {keys};
    auto started = std::chrono::steady_clock::now();
    status = runVeskCfg(VESKCFG_BINARY, arguments, options).status;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

void report(const char* what, std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    std::printf("%-34s min %7.1f ms   median %7.1f ms   max %7.1f ms\n", what, seconds.front() * 1e3,
                seconds[seconds.size() / 2] * 1e3, seconds.back() * 1e3);
}

}  // namespace

int main() {
    TempWorld world;
    world.addComputer("PRIM", {"admin:pw"});
    world.storeRecord("PRIM", "PRIM", "admin", "pw", 0);
    std::string hive = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n";
    for (int i = 0; i < kListed; ++i) hive += "\"SERVER" + std::to_string(i) + "\"=hex(1):\n";
    world.write("PRIM/hklm.reg", hive + "\n");

    std::vector<double> assign, list;
    for (int run = 0; run < kRuns; ++run) {
        std::string name = "NEW" + std::to_string(run);
        world.addComputer(name, {"admin:pw"});
        int status = 0;
        // A new server has no stored credentials: they are typed at the prompt.
        assign.push_back(secondsOf({"md", "PRIM", name}, status, "admin\rpw\r"));
        if (status != 0) std::printf("md ended with %d\n", status);
        list.push_back(secondsOf({"ld", "PRIM"}, status));
        if (status != 0) std::printf("ld ended with %d\n", status);
    }
    std::printf("primary with %d listed servers, %d runs each\n", kListed, kRuns);
    report("md PRIM NEWn (adds the 100,00nth)", assign);
    report("ld PRIM (prints every name)", list);
    return 0;
}
