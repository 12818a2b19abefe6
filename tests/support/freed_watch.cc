#include "tests/support/freed_watch.h"

#include <cstdio>
#include <fstream>
#include <string>

bool freedWatchWorks() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}

WatchedRun runWatched(const char* binary, const std::vector<std::string>& arguments, RunOptions options,
                      const std::vector<std::string>& secrets, const std::string& scratchFolder) {
    const std::string report = scratchFolder + "/freed-watch";
    std::remove(report.c_str());
    std::string watched;
    for (const std::string& secret : secrets) watched += (watched.empty() ? "" : "\n") + secret;
    options.environment.push_back({"LD_PRELOAD", VESKCFG_FREED_WATCH});
    options.environment.push_back({"VESKCFG_WATCH_SECRET", watched});
    options.environment.push_back({"VESKCFG_WATCH_REPORT", report});
    WatchedRun watchedRun;
    watchedRun.run = runVeskCfg(binary, arguments, options);
    // Its own lines: an askpass program, which the watch is loaded into too, is not the program's.
    const std::string program = std::string(binary).substr(std::string(binary).rfind('/') + 1) + ": ";
    std::ifstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(program, 0) != 0) continue;
        line.erase(0, program.size());
        if (line.rfind("scanned ", 0) == 0) watchedRun.scanned += std::stol(line.substr(8));
        else watchedRun.held.push_back(line);
    }
    return watchedRun;
}
