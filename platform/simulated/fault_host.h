// Failures injected into the calls on a computer, from the faults file in
// its folder of the world, whatever host answers for it: another host
// wrapped, as SQLite's test VFS wraps a real one.
#pragma once

#include <memory>

#include "platform/simulated/host.h"

namespace sim {

std::unique_ptr<Host> withFaults(std::unique_ptr<Host> host);

}  // namespace sim
