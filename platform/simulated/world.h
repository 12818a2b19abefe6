// The simulated network: a directory with one folder per computer.
//   <world>/<NAME>/hklm.reg     that computer's HKEY_LOCAL_MACHINE (REGEDIT4)
//   <world>/<NAME>/accounts     user:password lines that may open its ipc$
//   <world>/<NAME>/connections  the local computer's open connections
//   <world>/<NAME>/offline      present: the computer cannot be reached
//   <world>/<NAME>/faults       "<call> <code>" lines: calls that must fail
//   <world>/<NAME>/lock         taken while one of its files is changed
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/win32.h"

namespace sim {

std::string worldRoot();
std::string localComputerName();

// The folder of computer NAME, found without regard to case; empty when the
// world has no such computer.
std::string findComputerFolder(const std::string& name);
// The local computer's folder, created (with the world) when missing; empty
// when it cannot be created.
std::string localComputerFolder(bool create);

bool isOffline(const std::string& folder);

// 0, or the code the faults file of the folder's computer gives for the call.
LONG faultFor(const std::string& folder, const char* call);

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

// Appends a line to $VESKCFG_TRACE, when set: how tests watch the calls.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
