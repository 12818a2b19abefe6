// Failures injected into the calls on a computer, from the faults file in
// its folder of the world, whatever host answers for it: another host
// wrapped, as SQLite's test VFS wraps a real one.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/linux/hosts/host.h"

namespace sim {

// host wrapped; folder gives the folder its faults file is read in (empty:
// none yet), which the chooser knows.
std::unique_ptr<Host> withFaults(std::unique_ptr<Host> host, std::function<std::string()> folder);

}  // namespace sim
