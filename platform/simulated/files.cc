#include "platform/simulated/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace sim {

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

}  // namespace sim
