// The scan of a hive file: where each key header line starts, checked for
// what is cheap, so that a run that needs a few keys of a large file reads
// little more than their lines. A small file is held whole; a large one is
// read in stretches, and a very large one in two halves at once.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/linux/machine/codepage.h"
#include "platform/linux/hosts/world/hive.h"
#include "platform/linux/hosts/world/hive_parts.h"
#include "platform/linux/machine/lines.h"
#include "platform/linux/machine/trace.h"

namespace sim {

using hive::kRootName;
using hive::kStretch;
using hive::digestOf;
using hive::parentLength;

namespace {

constexpr size_t kHeldWhole = size_t{1} << 20;  // a hive file this small is read whole
constexpr size_t kScannedInHalves = size_t{16} << 20;  // from this size on, in two halves at once
constexpr size_t kLargestFile = std::numeric_limits<uint32_t>::max() - 1;  // offsets are 32 bits

// Adds to `found` the positions from `at` on where a line starts with '['.
void lineStartsFrom(const char* data, size_t size, size_t at, std::vector<uint32_t>& found) {
    for (; at < size; ++at)
        if (data[at] == '[' && data[at - 1] == '\n') found.push_back(static_cast<uint32_t>(at));
}

#if defined(__x86_64__)
// Thirty-two bytes at a time, each compared with '[' and the byte before it
// with a line feed.
__attribute__((target("avx2"))) void lineStartsAvx2(const char* data, size_t size, std::vector<uint32_t>& found) {
    const __m256i bracket = _mm256_set1_epi8('[');
    const __m256i lineFeed = _mm256_set1_epi8('\n');
    size_t at = 1;
    for (; at + 32 <= size; at += 32) {
        __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at));
        __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at - 1));
        __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(here, bracket), _mm256_cmpeq_epi8(before, lineFeed));
        for (uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(both)); mask; mask &= mask - 1)
            found.push_back(static_cast<uint32_t>(at + __builtin_ctz(mask)));
    }
    lineStartsFrom(data, size, at, found);
}

void lineStartsSse2(const char* data, size_t size, std::vector<uint32_t>& found) {
    const __m128i bracket = _mm_set1_epi8('[');
    const __m128i lineFeed = _mm_set1_epi8('\n');
    size_t at = 1;
    for (; at + 16 <= size; at += 16) {
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at - 1));
        __m128i both = _mm_and_si128(_mm_cmpeq_epi8(here, bracket), _mm_cmpeq_epi8(before, lineFeed));
        for (uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(both)); mask; mask &= mask - 1)
            found.push_back(static_cast<uint32_t>(at + __builtin_ctz(mask)));
    }
    lineStartsFrom(data, size, at, found);
}
#endif

// The positions after the first byte where a line starts with '[', the
// bracket that opens a key header: the one search over every byte of a hive.
void headerStarts(const char* data, size_t size, std::vector<uint32_t>& found) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return lineStartsAvx2(data, size, found);
    return lineStartsSse2(data, size, found);
#else
    lineStartsFrom(data, size, 1, found);
#endif
}

}  // namespace

namespace hive {

// A whole read at offset: fewer bytes only at the file's end or on an error.
size_t readAt(int fd, char* into, size_t size, size_t offset) {
    size_t done = 0;
    while (done < size) {
        ssize_t count = pread(fd, into + done, size - done, static_cast<off_t>(offset + done));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        done += static_cast<size_t>(count);
    }
    return done;
}

}  // namespace hive

using hive::readAt;


// Finds a hive's key headers, the text given in stretches. Each header line
// is checked only for what is cheap (its brackets and root name); the names
// of its path are checked when a lookup first reads it. A header whose
// parent is the header before it, or a key above that one, has a parent
// with a header; the others are noted, so that keys only implied by a
// header below them can be found.
class Hive::Scan {
public:
    Scan() : doubleByte_(ansiCodePage() == 932) {}

    std::vector<Header> headers;
    std::vector<uint32_t> unproven;     // of headers
    std::vector<uint32_t> rootHeaders;  // of headers

    // The headers that start before limit in `data`, the file's bytes from
    // `base` on; startsLine says whether a line starts at base. Where it
    // stopped: the end of data, limit, or (unless data runs to the file's
    // end) the start of a header whose line goes on past data. bad: 1 + where
    // a line that is no header starts.
    size_t run(std::string_view data, size_t base, bool startsLine, bool last, size_t limit, size_t& bad) {
        starts_.clear();
        if (startsLine && !data.empty() && data[0] == '[') starts_.push_back(0);
        headerStarts(data.data(), data.size(), starts_);
        for (uint32_t start : starts_) {
            if (base + start >= limit) return limit;
            const char* lineFeed = static_cast<const char*>(std::memchr(data.data() + start, '\n', data.size() - start));
            if (!lineFeed && !last) return base + start;
            size_t lineEnd = lineFeed ? static_cast<size_t>(lineFeed - data.data()) : data.size();
            std::string_view line = data.substr(start, lineEnd - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (!add(line, base + start, base + lineEnd + (lineFeed ? 1 : 0))) {
                bad = base + start + 1;
                return base + start;
            }
        }
        return base + data.size();
    }

    // Before the stretch that holds the last header's path is read over.
    void keepLastPath() {
        stash_.assign(lastPath_);
        lastPath_ = stash_;
    }

private:
    // "[HKEY_LOCAL_MACHINE]", or "[HKEY_LOCAL_MACHINE\" PATH "]" in any case.
    bool add(std::string_view line, size_t at, size_t lineEnd) {
        constexpr size_t kPathStart = 1 + kRootName.size() + 1;
        if (line.size() < kPathStart || line.back() != ']') return false;
        std::string_view root = line.substr(1, kRootName.size());
        if (root != kRootName && !sameName(root, kRootName)) return false;
        std::string_view path;
        if (line.size() > kPathStart) {
            if (line[kPathStart - 1] != '\\') return false;
            path = line.substr(kPathStart, line.size() - kPathStart - 1);
            if (path.empty()) return false;
        }
        uint32_t index = static_cast<uint32_t>(headers.size());
        headers.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(lineEnd),
                           static_cast<uint32_t>(path.size()), digestOf(path)});
        if (path.empty()) {
            rootHeaders.push_back(index);
        } else if (!parentIsKnown(path)) {
            unproven.push_back(index);
        }
        lastPath_ = path;
        return true;
    }

    bool parentIsKnown(std::string_view path) const {
        size_t parent = 0;
        if (doubleByte_) {
            parent = parentLength(path);
        } else if (const void* last = memrchr(path.data(), '\\', path.size())) {
            parent = static_cast<size_t>(static_cast<const char*>(last) - path.data());
        }
        if (parent == 0) return true;
        if (lastPath_.size() < parent || std::memcmp(lastPath_.data(), path.data(), parent) != 0) return false;
        // In Shift-JIS a backslash byte may end a character: only the header
        // before it is taken as the parent then.
        return lastPath_.size() == parent || (!doubleByte_ && lastPath_[parent] == '\\');
    }

    bool doubleByte_;
    std::vector<uint32_t> starts_;
    std::string_view lastPath_;  // of the last header found
    std::string stash_;
};

void Hive::take(Scan& scan) {
    uint32_t first = static_cast<uint32_t>(headers_.size());
    if (headers_.empty()) headers_ = std::move(scan.headers);
    else headers_.insert(headers_.end(), scan.headers.begin(), scan.headers.end());
    for (uint32_t index : scan.unproven) unproven_.push_back(first + index);
    for (uint32_t index : scan.rootHeaders) root_->headers.push_back(first + index);
}

// The lines before the first header: blank lines, then "REGEDIT4", then
// blank lines and comments.
size_t Hive::checkPreamble() {
    size_t end = headers_.empty() ? size_ : headers_[0].at;
    std::string_view text = fileBytes(0, end, scratch_);
    size_t offset = 0;
    for (size_t number = 1; offset < text.size(); ++number) {
        std::string_view line = nextLine(text, offset);
        if (line.empty() || (signed_ && line[0] == ';')) continue;
        if (signed_ || line != "REGEDIT4") return number;
        signed_ = true;
    }
    if (!signed_ && !headers_.empty()) return lineNumberAt(headers_[0].at);
    return 0;
}

// ---- reading the file --------------------------------------------------------

namespace {

// The headers of a large hive fill tens of megabytes as they are found:
// in huge pages, where the system offers them on request, that is a fault
// for every 2 MB rather than every 4 KB.
void reserveInHugePages(std::vector<Hive::Header>& headers, size_t count) {
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    headers.reserve(count);
    uintptr_t begin = (reinterpret_cast<uintptr_t>(headers.data()) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t end = reinterpret_cast<uintptr_t>(headers.data() + headers.capacity()) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Finds the headers that start in [from, limit) of the file, read in
// stretches: 0, or the code of why it could not be read.
LONG scanStretches(int fd, size_t from, size_t limit, size_t size, Hive::Scan& scan, size_t& bad) {
    std::unique_ptr<char[]> stretch(new char[kStretch]);
    size_t base = from;
    bool startsLine = false;
    if (from > 0) {
        char before = 0;
        if (readAt(fd, &before, 1, from - 1) != 1) return ERROR_CANTREAD;
        startsLine = before == '\n';
    }
    while (base < limit && !bad) {
        size_t wanted = std::min(kStretch, size - base);
        if (readAt(fd, stretch.get(), wanted, base) != wanted) return ERROR_CANTREAD;  // cut short meanwhile
        size_t stop = scan.run({stretch.get(), wanted}, base, startsLine, base + wanted == size, limit, bad);
        if (bad || stop >= limit) break;
        if (stop == base) {  // a header line longer than a stretch: no header a key could have
            bad = base + 1;
            break;
        }
        startsLine = stretch[stop - base - 1] == '\n';
        scan.keepLastPath();
        base = stop;
    }
    return 0;
}

}  // namespace

size_t loadHive(Hive& hive, FileText fileText) {
    hive.text_ = std::move(fileText);
    std::string_view text = hive.text_.view();
    if (text.size() > kLargestFile) return 1;
    hive.size_ = static_cast<uint32_t>(text.size());
    Hive::Scan scan;
    size_t bad = 0;
    scan.run(text, 0, false, true, text.size(), bad);
    hive.take(scan);
    return bad ? hive.lineNumberAt(bad - 1) : hive.checkPreamble();
}

LONG loadHiveFile(const std::string& path, Hive& hive, size_t& badLine) {
    badLine = 0;
    int fd = openWorldFile(path, O_RDONLY);
    if (fd < 0) return codeFromErrno(errno, ERROR_CANTREAD);
    struct stat info;
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return codeFromErrno(error, ERROR_CANTREAD);
    }
    size_t size = static_cast<size_t>(info.st_size);
    if (size > kLargestFile) {
        close(fd);
        diagnose("%s holds %zu bytes; a registry file must stay under 4 GiB, and every call on it fails with 1009.",
                 path.c_str(), size);
        return ERROR_BADDB;
    }
    if (size <= kHeldWhole) {
        close(fd);
        FileText text;
        if (LONG code = readWholeFile(path, text)) return code;
        badLine = loadHive(hive, std::move(text));
        return 0;
    }
    hive.fd_ = fd;
    hive.size_ = static_cast<uint32_t>(size);
    // A large file is scanned in two halves at once, the second by a thread
    // of its own that takes no signal.
    size_t half = size >= kScannedInHalves ? size / 2 : size;
    Hive::Scan first, second;
    // Room for both halves' headers, so that the second's join the first's
    // without moving them (memory reserved costs nothing until used).
    reserveInHugePages(first.headers, size / 128);
    reserveInHugePages(second.headers, (size - half) / 128);
    size_t badFirst = 0, badSecond = 0;
    LONG codeFirst = 0, codeSecond = 0;
    std::thread other;
    if (half < size) {
        sigset_t all, before;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &before);
        other = std::thread([&] { codeSecond = scanStretches(fd, half, size, size, second, badSecond); });
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    codeFirst = scanStretches(fd, 0, half, size, first, badFirst);
    if (other.joinable()) other.join();
    if (LONG code = codeFirst ? codeFirst : codeSecond) return code;
    size_t bad = badFirst ? badFirst : badSecond;
    hive.take(first);
    hive.take(second);
    badLine = bad ? hive.lineNumberAt(bad - 1) : hive.checkPreamble();
    return 0;
}

size_t parseHive(Hive& hive, std::string_view text) { return parseHive(hive, FileText::copyOf(text)); }

size_t parseHive(Hive& hive, FileText text) {
    if (size_t bad = loadHive(hive, std::move(text))) return bad;
    hive.learnEveryKey();
    size_t first = hive.badHeaderLine_;
    auto consider = [&first](size_t line) {
        if (line && (!first || line < first)) first = line;
    };
    consider(hive.readValues(*hive.root_));
    for (auto& [upper, key] : hive.keys_) consider(hive.readValues(*key));
    return first;
}

}  // namespace sim
