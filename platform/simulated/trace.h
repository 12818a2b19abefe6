// $VESKCFG_TRACE: how tests watch the calls.
#pragma once

namespace sim {

// Appends a line to $VESKCFG_TRACE, when set.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
