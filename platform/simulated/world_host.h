// A computer that is a folder of the world.
#pragma once

#include <memory>
#include <string>

#include "platform/simulated/host.h"

namespace sim {

// The computer in folder; the local computer (local), whose folder is found
// at each use since a run may create it; or, with an empty folder and not
// local, a computer the world does not have, which cannot be reached (53).
std::unique_ptr<Host> worldHost(const std::string& folder, bool local);

}  // namespace sim
