// The commands that make and change a simulated network (linux/
// world_commands.cc); on Windows each says in one line that it belongs to the
// Linux build, and ends with kFailed.
#pragma once

#include <string>
#include <vector>

#include "tools/vesknet/output.h"

namespace vesknet {

int initWorld(const Settings& settings);
int addComputer(const Settings& settings, const std::string& name, const std::vector<std::string>& accounts);
int setOffline(const Settings& settings, const std::string& name, bool offline);
int setFault(const Settings& settings, const std::string& name, const std::string& call, long long code, long long nth,
             bool clear);
int listCalls();

}  // namespace vesknet
