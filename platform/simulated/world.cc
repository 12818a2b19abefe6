#include "platform/simulated/world.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/simulated/codepage.h"

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

static bool makeDirectories(const std::string& path) {
    for (size_t slash = 1; slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string localComputerFolder(bool create) {
    std::string folder = findComputerFolder(localComputerName());
    if (!folder.empty() || !create) return folder;
    folder = worldRoot() + "/" + localComputerName();
    return makeDirectories(folder) ? folder : std::string();
}

bool isOffline(const std::string& folder) {
    return identityOf(folder + "/offline").exists;
}

FileIdentity identityOf(const std::string& path) {
    FileIdentity identity;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return identity;
    identity.exists = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.modifiedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    identity.size = info.st_size;
    return identity;
}

bool readWholeFile(const std::string& path, std::string& content) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    content.clear();
    char chunk[65536];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, count);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool replaceFileAtomically(const std::string& path, const std::string& content) {
    std::string temporary = path + ".tmp." + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    fchmod(fd, 0600);
    size_t written = 0;
    while (written < content.size()) {
        ssize_t count = write(fd, content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        written += static_cast<size_t>(count);
    }
    bool ok = written == content.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

FolderLock::FolderLock(const std::string& folder) {
    fd_ = open((folder + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        close(fd_);
        fd_ = -1;
        return;
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
}

namespace {
struct FaultTable {
    FileIdentity identity;
    std::map<std::string, LONG> codes;
};
}  // namespace

// The faults file is read again only when it changed, so that a walk of a
// long list does not parse it once per step.
LONG faultFor(const std::string& folder, const char* call) {
    if (folder.empty()) return 0;
    static std::map<std::string, FaultTable> tables;
    std::string path = folder + "/faults";
    FileIdentity identity = identityOf(path);
    FaultTable& table = tables[path];
    if (!(identity == table.identity)) {
        table.identity = identity;
        table.codes.clear();
        std::string content;
        if (identity.exists && readWholeFile(path, content)) {
            size_t start = 0;
            while (start < content.size()) {
                size_t end = content.find('\n', start);
                if (end == std::string::npos) end = content.size();
                char name[128] = {};
                long code = 0;
                std::string line = content.substr(start, end - start);
                if (std::sscanf(line.c_str(), "%127s %ld", name, &code) == 2) table.codes[name] = static_cast<LONG>(code);
                start = end + 1;
            }
        }
    }
    auto found = table.codes.find(call);
    return found == table.codes.end() ? 0 : found->second;
}

void trace(const char* format, ...) {
    const char* path = std::getenv("VESKCFG_TRACE");
    if (!path || !*path) return;
    FILE* file = std::fopen(path, "a");
    if (!file) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(file, format, arguments);
    va_end(arguments);
    std::fputc('\n', file);
    std::fclose(file);
}

}  // namespace sim
