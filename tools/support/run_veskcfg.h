// Runs the real VeskCfg binary with its controlling terminal on a
// pseudo-terminal, types keys at its prompts and collects what it wrote: for
// the demonstration, the benchmark and the end-to-end tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct RunResult {
    std::string out;   // standard output, byte for byte
    std::string err;   // standard error: the simulation's own diagnostics
    std::string echo;  // what the prompt echoed on the terminal
    int status = -1;   // exit status, or -1 when it did not exit by itself
    bool echoOnAtEnd = false;  // the terminal had its echo back when the run ended
    long peakKb = 0;           // the child's peak resident size
};

struct RunOptions {
    std::vector<std::string> keys;  // typed at each prompt in turn
    bool terminal = true;           // false: no controlling terminal at all
    std::vector<std::pair<std::string, std::string>> environment;
    int signalAtPrompt = 0;  // sent once the first prompt reads keys
    // Standard output on the terminal too, as a person at the console sees
    // it: everything then arrives in echo, in order.
    bool outputOnTerminal = false;
};

RunResult runVeskCfg(const char* binary, const std::vector<std::string>& arguments, const RunOptions& options = {});
