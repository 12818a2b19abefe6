#include "platform/simulated/world.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/simulated/codepage.h"
#include "platform/simulated/files.h"

namespace sim {

static std::string environmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

// Read anew on every call: cheap, and a test can move to a fresh world.
std::string worldRoot() {
    if (const char* world = std::getenv("VESKCFG_WORLD"); world && *world) return world;
    std::string home = environmentOr("HOME", ".");
    return environmentOr("XDG_STATE_HOME", home + "/.local/state") + "/veskcfg/world";
}

// Like a NetBIOS name: the host name up to its first dot, upper-cased, at
// most 15 characters.
std::string localComputerName() {
    const char* configured = std::getenv("VESKCFG_COMPUTERNAME");
    if (configured && *configured) return configured;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == 0) return "LOCALHOST";
    std::string text(host);
    return upperText(text.substr(0, text.find('.')).substr(0, 15));
}

std::string findComputerFolder(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return {};
    const std::string root = worldRoot();
    struct stat info;
    if (stat((root + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return root + "/" + name;
    DIR* dir = opendir(root.c_str());
    if (!dir) return {};
    std::string found;
    while (dirent* entry = readdir(dir)) {
        std::string entryName = entry->d_name;
        if (entryName == "." || entryName == ".." || !sameName(entryName, name)) continue;
        if (stat((root + "/" + entryName).c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            found = root + "/" + entryName;
            break;
        }
    }
    closedir(dir);
    return found;
}

std::string localComputerFolder(bool create) {
    std::string folder = findComputerFolder(localComputerName());
    if (!folder.empty() || !create) return folder;
    const std::string root = worldRoot();
    folder = root + "/" + localComputerName();
    // The folders above the world are the user's own; the world's are its
    // owner's only.
    std::error_code failed;
    std::filesystem::create_directories(std::filesystem::path(root).parent_path(), failed);
    if (failed) return {};
    if (mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) return {};
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return folder;
}

bool isOffline(const std::string& folder) { return identityOf(folder + "/offline").exists; }

}  // namespace sim
