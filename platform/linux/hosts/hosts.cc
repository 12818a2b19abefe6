// Which host answers for a computer: the one place that knows which network
// the run is on (VESKCFG_NETWORK).
#include <strings.h>

#include <cstdlib>
#include <functional>
#include <map>

#include "platform/linux/machine/codepage.h"
#include "platform/linux/hosts/fault_host.h"
#include "platform/linux/hosts/host.h"
#include "platform/linux/machine/trace.h"
#include "platform/linux/machine/world.h"

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

// The host, wrapped in the faults of the computer whose folder gives.
template <class Make>
Host& kept(const std::string& key, Make make, std::function<std::string()> folder) {
    std::unique_ptr<Host>& slot = hosts()[key];
    if (!slot) slot = withFaults(make(), std::move(folder));
    return *slot;
}

}  // namespace

bool onRealNetwork() { return network() == Network::Smb; }

Host& localHost() {
    // Its folder is made by the run's first change.
    return kept("local:" + worldRoot() + "/" + localComputerName(), [] { return worldHost({}, true); },
                [] { return localComputerFolder(false); });
}

Host& hostNamed(const std::string& name) {
    if (name.empty() || sameName(name, localComputerName())) return localHost();
    if (network() == Network::Smb) {
        // Calls on a real server are failed and counted as on a folder of
        // the world: one named after it, or where it would be.
        std::string own = isComputerName(name) ? worldRoot() + "/" + name : std::string();
        return kept("smb:" + worldRoot() + "/" + upperText(name), [&] { return smbHost(name); }, [name, own] {
            std::string found = findComputerFolder(name);
            return found.empty() ? own : found;
        });
    }
    std::string folder = findComputerFolder(name);
    return kept(folder.empty() ? "absent" : "world:" + folder, [&] { return worldHost(folder, false); },
                [folder] { return folder; });
}

}  // namespace sim
