// How the Linux platform reads and changes the files of its world. A world may
// sit in a folder that others can reach (under /tmp, say), so no world file
// is opened through a symbolic link, temporary files are created afresh under
// names nobody can guess, and a folder that another user could change is
// refused outright.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace sim {

struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    long long modifiedNs = 0;
    off_t size = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity identityOf(const std::string& path);  // of the link itself, never its target

// The Windows code that says what a failed file operation met.
LONG codeFromErrno(int error, LONG otherwise);

// open(2) of a world file, never through a symbolic link (said on standard
// error); mode 0600 when created.
int openWorldFile(const std::string& path, int flags);

// 0, or ERROR_ACCESS_DENIED after saying why on standard error: a world or
// computer folder must be a folder of this user's (or root's) that neither
// group nor others may write to.
LONG checkFolder(const std::string& folder);

// A file's bytes, read whole into memory of their own (not zero-filled first:
// a hive may run to many megabytes).
class FileText {
public:
    std::string_view view() const { return {bytes_.get(), size_}; }
    static FileText copyOf(std::string_view text);
    // Up to size bytes of the open file at offset: fewer at its end or on an
    // error.
    static FileText readAt(int fd, size_t offset, size_t size);
    // Clears the bytes, which may be a secret's, before they go.
    void wipe();

private:
    friend LONG readWholeFile(const std::string& path, FileText& text);
    // Memory of `mapped` bytes from mmap, or from new[] when 0.
    struct Release {
        size_t mapped;
        void operator()(char* bytes) const;
    };
    using Bytes = std::unique_ptr<char[], Release>;
    static Bytes allocate(size_t size);
    Bytes bytes_;
    size_t size_ = 0;
};

// 0 with the file's bytes; ERROR_FILE_NOT_FOUND, or another code.
LONG readWholeFile(const std::string& path, FileText& text);
LONG readWholeFile(const std::string& path, std::string& content);

// Some bytes of a file being written: bytes in memory, or size bytes of the
// open file fromFd at offset (copied by the system, not through memory).
struct FilePart {
    std::string_view bytes;
    int fromFd = -1;
    off_t offset = 0;
    size_t size = 0;
};

// Temporary file, flush, rename: readers see the old or the new content.
// Call it holding the folder's lock. 0, or the code of what failed.
LONG replaceFileAtomically(const std::string& path, const std::string& content);
LONG replaceFileAtomically(const std::string& path, const std::vector<FilePart>& parts);

// Removes the file, which is atomic of itself. 0 also when it was not there.
// Call it holding the folder's lock.
LONG removeFile(const std::string& path);

// Holds the folder's lock file exclusively for its lifetime. Temporary files
// that a killed run left behind are removed once it is held.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return fd_ >= 0; }
    LONG code() const { return code_; }  // why it is not held

private:
    int fd_ = -1;
    LONG code_ = 0;
};

}  // namespace sim
