// On Windows the network is real: the commands that make a simulated one
// say where they belong.
#include "tools/vesknet/world_commands.h"

namespace vesknet {

namespace {

int belongsToLinux(const char* command) {
    return fail(std::string(command) + " belongs to the Linux build's simulated network; "
                                       "vesknet.exe shows, checks and draws the real one (show, check, graph)");
}

}  // namespace

int initWorld(const Settings&) { return belongsToLinux("init"); }
int addComputer(const Settings&, const std::string&, const std::vector<std::string>&) { return belongsToLinux("add"); }
int setOffline(const Settings&, const std::string&, bool offline) { return belongsToLinux(offline ? "offline" : "online"); }
int setFault(const Settings&, const std::string&, const std::string&, long long, long long, bool) { return belongsToLinux("fault"); }
int listCalls() { return belongsToLinux("calls"); }

}  // namespace vesknet
