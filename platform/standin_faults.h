// Failure injection for the maker-library stand-ins, as the simulated world's
// faults file describes. On Windows nothing is injected.
#pragma once

#include "platform/win32.h"

// 0, or the code with which the named store operation must fail.
LONG StandInFault(const char* operation);
