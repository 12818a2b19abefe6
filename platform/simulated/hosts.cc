// Which host answers for a computer: the one place that knows which network
// the run is on (VESKCFG_NETWORK).
#include <strings.h>

#include <cstdlib>
#include <map>

#include "platform/codepage.h"
#include "platform/simulated/fault_host.h"
#include "platform/simulated/host.h"
#include "platform/simulated/trace.h"
#include "platform/simulated/world.h"
#include "platform/simulated/world_host.h"
#include "platform/smb/smb_host.h"

namespace sim {

namespace {

enum class Network { World, Smb };

Network network() {
    static const Network chosen = [] {
        const char* choice = std::getenv("VESKCFG_NETWORK");
        if (!choice || !*choice || strcasecmp(choice, "world") == 0) return Network::World;
        if (strcasecmp(choice, "smb") == 0) return Network::Smb;
        diagnose("VESKCFG_NETWORK=\"%s\" is not a network VeskCfg knows (world or smb); world is used.", choice);
        return Network::World;
    }();
    return chosen;
}

// Every host made in this process, never destroyed: handles keep them. A
// test may move to another world, which brings hosts of its own.
std::map<std::string, std::unique_ptr<Host>>& hosts() {
    static auto* made = new std::map<std::string, std::unique_ptr<Host>>;
    return *made;
}

template <class Make>
Host& kept(const std::string& key, Make make) {
    std::unique_ptr<Host>& slot = hosts()[key];
    if (!slot) slot = withFaults(make());
    return *slot;
}

}  // namespace

bool onRealNetwork() { return network() == Network::Smb; }

Host& localHost() {
    return kept("local:" + worldRoot() + "/" + localComputerName(), [] { return worldHost({}, true); });
}

Host& hostNamed(const std::string& name) {
    if (name.empty() || sameName(name, localComputerName())) return localHost();
    if (network() == Network::Smb) {
        // Calls on a real server are failed and counted as on a folder of
        // the world: where it would be when the world has none.
        std::string folder = isComputerName(name) ? worldRoot() + "/" + name : std::string();
        return kept("smb:" + worldRoot() + "/" + upperText(name), [&] { return smbHost(name, folder); });
    }
    std::string folder = findComputerFolder(name);
    return kept(folder.empty() ? "absent" : "world:" + folder, [&] { return worldHost(folder, false); });
}

}  // namespace sim
