#include "platform/linux/machine/world.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/linux/machine/codepage.h"
#include "platform/linux/machine/files.h"
#include "platform/linux/machine/trace.h"

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

namespace {

// Like a NetBIOS name: the host name up to its first dot, upper-cased, at
// most 15 characters.
std::string hostComputerName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == 0) return "LOCALHOST";
    std::string text(host);
    return upperText(text.substr(0, text.find('.')).substr(0, 15));
}

void tellOnce(std::string& told, const std::string& what, const char* format, const char* value) {
    if (told == what) return;
    told = what;
    diagnose(format, value);
}

}  // namespace

bool isComputerName(const std::string& name) {
    if (name.empty() || name.find("..") != std::string::npos) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    return true;
}

std::string localComputerName() {
    const char* configured = std::getenv("VESKCFG_COMPUTERNAME");
    if (!configured || !*configured) return hostComputerName();
    if (isComputerName(configured)) return configured;
    static std::string told;
    tellOnce(told, configured, "VESKCFG_COMPUTERNAME=\"%s\" is not a computer name: it holds \"..\", a slash, "
                               "a backslash or a control character.", configured);
    return {};
}

LONG localComputerProblem() {
    if (localComputerName().empty()) return ERROR_INVALID_NAME;
    // A mistyped VESKCFG_WORLD must not quietly start a new, empty world.
    const char* configured = std::getenv("VESKCFG_WORLD");
    if (!configured || !*configured || identityOf(configured).exists) return 0;
    static std::string told;
    tellOnce(told, configured, "VESKCFG_WORLD=\"%s\" names no folder; make the world first (vesknet init).",
             configured);
    return ERROR_PATH_NOT_FOUND;
}

static std::string createLocalFolder(const std::string& root, const std::string& name) {
    // The folders above the world are the user's own; the world's are its
    // owner's only.
    std::error_code failed;
    std::filesystem::create_directories(std::filesystem::path(root).parent_path(), failed);
    if (failed) return {};
    if (mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) return {};
    std::string folder = root + "/" + name;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return folder;
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
    const std::string name = localComputerName();
    const std::string root = worldRoot();
    // Looked up at every key open: a folder once found is kept.
    static std::string knownRoot, knownName, knownFolder;
    if (!name.empty() && knownRoot == root && knownName == name) return knownFolder;
    if (localComputerProblem()) return {};
    std::string folder = findComputerFolder(name);
    if (folder.empty() && create) folder = createLocalFolder(root, name);
    if (!folder.empty()) {
        knownRoot = root;
        knownName = name;
        knownFolder = folder;
    }
    return folder;
}

bool isOffline(const std::string& folder) { return identityOf(folder + "/offline").exists; }

}  // namespace sim
