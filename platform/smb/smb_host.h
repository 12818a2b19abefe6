// A computer that is a real SMB server (VESKCFG_NETWORK=smb).
#pragma once

#include <memory>
#include <string>

#include "platform/simulated/host.h"

namespace sim {

// The server of that name; folder is where its faults file would be in the
// world when it has no folder there.
std::unique_ptr<Host> smbHost(const std::string& name, const std::string& folder);

}  // namespace sim
