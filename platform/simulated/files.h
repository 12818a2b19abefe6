// How the simulation reads and changes the files of its world.
#pragma once

#include <sys/types.h>

#include <string>

namespace sim {

struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    long long modifiedNs = 0;
    off_t size = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity identityOf(const std::string& path);

bool readWholeFile(const std::string& path, std::string& content);
// Temporary file, flush, rename: readers see the old or the new content.
bool replaceFileAtomically(const std::string& path, const std::string& content);

// Holds the folder's lock file exclusively for its lifetime.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace sim
