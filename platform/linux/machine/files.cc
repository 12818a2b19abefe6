#include "platform/linux/machine/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <set>

#include "platform/linux/machine/trace.h"

namespace sim {

namespace {

constexpr const char kTemporaryMark[] = ".tmp.";

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// A folder found sound once stays so for the run.
std::set<std::string>& soundFolders() {
    static std::set<std::string> folders;
    return folders;
}

LONG refuseFolder(const std::string& folder, const char* why) {
    static std::set<std::string> told;
    if (told.insert(folder).second) diagnose("%s %s; it is refused.", folder.c_str(), why);
    return ERROR_ACCESS_DENIED;
}

LONG checkOne(const std::string& folder) {
    if (soundFolders().count(folder)) return 0;
    struct stat info;
    if (stat(folder.c_str(), &info) != 0) return codeFromErrno(errno, ERROR_PATH_NOT_FOUND);
    if (!S_ISDIR(info.st_mode)) return refuseFolder(folder, "is not a folder");
    if (info.st_uid != geteuid() && info.st_uid != 0) return refuseFolder(folder, "belongs to another user");
    if (info.st_mode & (S_IWGRP | S_IWOTH)) return refuseFolder(folder, "can be changed by other users (chmod go-w)");
    soundFolders().insert(folder);
    return 0;
}

void removeStaleTemporaries(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.find(kTemporaryMark) != std::string::npos) unlinkat(dirfd(dir), name.c_str(), 0);
    }
    closedir(dir);
}

LONG writeAll(int fd, std::string_view content) {
    size_t written = 0;
    while (written < content.size()) {
        ssize_t count = write(fd, content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return codeFromErrno(errno, ERROR_CANTWRITE);
        if (count == 0) return ERROR_CANTWRITE;
        written += static_cast<size_t>(count);
    }
    return 0;
}

}  // namespace

// Never through a symbolic link: one planted in the world could lead a write
// anywhere the user may write. Never anything but a regular file either: a
// FIFO or a device planted or left there would hang or feed every reader.
// (Opened without blocking, so that a FIFO cannot hold up the open itself.)
int openWorldFile(const std::string& path, int flags) {
    int fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0 && errno == ELOOP) {
        static std::set<std::string> told;
        if (told.insert(path).second) diagnose("%s is a symbolic link; world files are never opened through one.", path.c_str());
        errno = ELOOP;
    }
    if (fd < 0) return fd;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        static std::set<std::string> told;
        if (told.insert(path).second)
            diagnose("%s is not a regular file; world files are never read from anything else.", path.c_str());
        errno = EACCES;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

FileIdentity identityOf(const std::string& path) {
    FileIdentity identity;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return identity;
    identity.exists = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.modifiedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    identity.size = info.st_size;
    return identity;
}

LONG codeFromErrno(int error, LONG otherwise) {
    switch (error) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES: case EPERM: case ELOOP: return ERROR_ACCESS_DENIED;
        case ENOSPC: case EDQUOT: return ERROR_DISK_FULL;
        case EROFS: return ERROR_WRITE_PROTECT;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        default: return otherwise;
    }
}

LONG checkFolder(const std::string& folder) {
    if (LONG code = checkOne(folderOf(folder))) return code;  // the world itself
    return checkOne(folder);
}

void FileText::Release::operator()(char* bytes) const {
    if (mapped) munmap(bytes, mapped);
    else delete[] bytes;
}

// A hive of megabytes read into 4 KB pages costs a fault per page, more than
// the read itself; so whole 2 MB stretches of a large file go into huge pages
// where the system offers them on request. The rest stays in small pages, so
// that no more memory is held than the file needs.
FileText::Bytes FileText::allocate(size_t size) {
    constexpr size_t kHugePage = 2u << 20;
    if (size < kHugePage) return Bytes(new char[size]);
    const size_t pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t length = (size + pageSize - 1) / pageSize * pageSize;
    void* region = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return Bytes(new char[size]);
    // Keep the stretch that starts on a huge page's boundary.
    uintptr_t start = (reinterpret_cast<uintptr_t>(region) + kHugePage - 1) & ~(kHugePage - 1);
    size_t head = start - reinterpret_cast<uintptr_t>(region);
    if (head) munmap(region, head);
    munmap(reinterpret_cast<char*>(start) + length, kHugePage - head);
    madvise(reinterpret_cast<char*>(start), size / kHugePage * kHugePage, MADV_HUGEPAGE);
    return Bytes(reinterpret_cast<char*>(start), Release{length});
}

void FileText::wipe() {
    if (bytes_) explicit_bzero(bytes_.get(), size_);
}

FileText FileText::copyOf(std::string_view text) {
    FileText copy;
    copy.bytes_ = allocate(text.size());
    text.copy(copy.bytes_.get(), text.size());
    copy.size_ = text.size();
    return copy;
}

FileText FileText::readAt(int fd, size_t offset, size_t size) {
    FileText text;
    text.bytes_ = allocate(size);
    while (text.size_ < size) {
        ssize_t count = pread(fd, text.bytes_.get() + text.size_, size - text.size_,
                              static_cast<off_t>(offset + text.size_));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        text.size_ += static_cast<size_t>(count);
    }
    return text;
}

LONG readWholeFile(const std::string& path, FileText& text) {
    text = FileText();
    if (LONG code = checkFolder(folderOf(path))) return code;
    int fd = openWorldFile(path, O_RDONLY);
    if (fd < 0) return codeFromErrno(errno, ERROR_CANTREAD);
    struct stat info;
    LONG code = 0;
    if (fstat(fd, &info) != 0) code = ERROR_CANTREAD;
    // One read of the size the file has; a file that grew meanwhile is read
    // again whole.
    size_t capacity = code ? 0 : static_cast<size_t>(info.st_size) + 1;
    while (!code) {
        text.bytes_ = FileText::allocate(capacity);
        size_t got = 0;
        for (;;) {
            ssize_t count = pread(fd, text.bytes_.get() + got, capacity - got, static_cast<off_t>(got));
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) code = codeFromErrno(errno, ERROR_CANTREAD);
            if (count <= 0 || (got += static_cast<size_t>(count)) == capacity) break;
        }
        if (code || got < capacity) {
            text.size_ = code ? 0 : got;
            break;
        }
        capacity *= 2;
    }
    close(fd);
    return code;
}

LONG readWholeFile(const std::string& path, std::string& content) {
    FileText text;
    LONG code = readWholeFile(path, text);
    content.assign(text.view());
    return code;
}

// The system copies a stretch of one file into another; where it cannot
// (another file system, an old kernel), it goes through memory.
LONG copyStretch(int fd, const FilePart& part) {
    off_t from = part.offset;
    size_t left = part.size;
    while (left > 0) {
        ssize_t count = copy_file_range(part.fromFd, &from, fd, nullptr, left, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        left -= static_cast<size_t>(count);
    }
    char buffer[1 << 16];
    while (left > 0) {
        ssize_t count = pread(part.fromFd, buffer, std::min(left, sizeof buffer), from);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return codeFromErrno(errno, ERROR_CANTREAD);
        if (count == 0) return ERROR_CANTREAD;  // the file was cut short meanwhile
        if (LONG code = writeAll(fd, std::string_view(buffer, static_cast<size_t>(count)))) return code;
        from += count;
        left -= static_cast<size_t>(count);
    }
    return 0;
}

LONG replaceFileAtomically(const std::string& path, const std::string& content) {
    return replaceFileAtomically(path, std::vector<FilePart>{{content}});
}

LONG replaceFileAtomically(const std::string& path, const std::vector<FilePart>& parts) {
    std::string temporary = path + kTemporaryMark + "XXXXXX";
    // O_CREAT | O_EXCL under a random name, mode 0600: never a planted file.
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return codeFromErrno(errno, ERROR_CANTWRITE);
    LONG code = 0;
    for (const FilePart& part : parts) {
        code = part.fromFd >= 0 ? copyStretch(fd, part) : writeAll(fd, part.bytes);
        if (code) break;
    }
    if (!code && fsync(fd) != 0) code = codeFromErrno(errno, ERROR_CANTWRITE);
    if (close(fd) != 0 && !code) code = codeFromErrno(errno, ERROR_CANTWRITE);
    if (!code && rename(temporary.c_str(), path.c_str()) != 0) code = codeFromErrno(errno, ERROR_CANTWRITE);
    if (code) unlink(temporary.c_str());
    return code;
}

LONG removeFile(const std::string& path) {
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return 0;
    return codeFromErrno(errno, ERROR_CANTWRITE);
}

FolderLock::FolderLock(const std::string& folder) {
    if ((code_ = checkFolder(folder))) return;
    fd_ = openWorldFile(folder + "/lock", O_RDWR | O_CREAT);
    if (fd_ < 0) {
        code_ = codeFromErrno(errno, ERROR_CANTWRITE);
        return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        code_ = codeFromErrno(errno, ERROR_CANTWRITE);
        close(fd_);
        fd_ = -1;
        return;
    }
    // Temporary files are made only under this lock: any there now is stale.
    removeStaleTemporaries(folder);
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
}

}  // namespace sim
