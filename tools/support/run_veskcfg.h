// Runs the real VeskCfg binary with its controlling terminal on a
// pseudo-terminal, types keys at its prompts and collects what it wrote: for
// the demonstration, the benchmark and the end-to-end tests.
#pragma once

#include <sys/types.h>

#include <functional>
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
    // Called once the prompt after those typed at reads keys, with the child
    // and the terminal's master side: to send signals, say.
    std::function<void(pid_t child, int terminal)> atPrompt;
    // Called once the keys were typed at their prompts (at once when there
    // are none).
    std::function<void(pid_t child, int terminal)> afterTyping;
    // Run as a shell runs a job, so that Ctrl-Z can stop it; signals then go
    // to the terminal's foreground group (kill(-tcgetpgrp(terminal), ...)).
    bool jobControl = false;
    // Standard input from the terminal (Wine gives a program a console only
    // when it has one), not from /dev/null.
    bool inputOnTerminal = false;
    // No standard input at all: the terminal the program opens is then its
    // descriptor 0.
    bool inputClosed = false;
    // SIGCHLD ignored, as a parent that reaps nothing may leave it: the
    // program's own children are then reaped by the kernel.
    bool childSignalsIgnored = false;
    // Standard output on the terminal too, as a person at the console sees
    // it: everything then arrives in echo, in order.
    bool outputOnTerminal = false;
    // How long the run may take, not counting the time it waits for a lock
    // another holds, before it is killed (status -1): a hung run never hangs
    // a suite.
    int limitSeconds = 30;
};

// True while the process waits for a lock that another holds: the console
// another run is on, or a computer's files that another run changes.
bool waitsForALock(pid_t process);

RunResult runVeskCfg(const char* binary, const std::vector<std::string>& arguments, const RunOptions& options = {});

// Whether what a run wrote on its terminal holds a byte that drives one:
// C0 but the line ends, DEL, and C1, raw (0x80-0x9F) or in UTF-8.
bool drivesTerminal(const std::string& shown);
