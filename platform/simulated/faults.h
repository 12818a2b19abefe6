// Failures injected into the simulated calls, from a computer's faults file.
#pragma once

#include <string>

#include "platform/win32.h"

namespace sim {

// 0, or the code the faults file of the folder's computer gives for the call.
LONG faultFor(const std::string& folder, const char* call);

}  // namespace sim
