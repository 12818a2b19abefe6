// What the Linux platform says beside the program's own output: diagnostics on
// standard error, and $VESKCFG_TRACE, how tests watch the calls.
#pragma once

namespace sim {

// Appends a line to $VESKCFG_TRACE, when set.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One line on standard error, after the program's name: standard output
// belongs to the program and stays byte for byte.
void diagnose(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
