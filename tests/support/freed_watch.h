// A run of a program under the freed-memory watch (freed_secrets.c): which
// blocks it gave back still held a secret, and how many it gave back.
#pragma once

#include <string>
#include <vector>

#include "tools/support/run_veskcfg.h"

struct WatchedRun {
    RunResult run;
    std::vector<std::string> held;  // "held SIZE, freed at ...", the program's own only
    long scanned = 0;               // blocks it gave back, each looked at
};

// False where the watch cannot be loaded: a build with the sanitizers,
// whose runtime must come first.
bool freedWatchWorks();

// Runs binary as runVeskCfg does, watching every block it frees for the
// bytes of each secret.
WatchedRun runWatched(const char* binary, const std::vector<std::string>& arguments, RunOptions options,
                      const std::vector<std::string>& secrets, const std::string& scratchFolder);
