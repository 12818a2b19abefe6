#include "platform/simulated/hive.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <thread>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/simulated/codepage.h"
#include "platform/simulated/lines.h"
#include "platform/simulated/trace.h"
#include "platform/simulated/value_lines.h"

namespace sim {

namespace {

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr size_t kHeldWhole = size_t{1} << 20;  // a hive file this small is read whole
constexpr size_t kStretch = size_t{1} << 17;    // a larger one in stretches of this size, which stay in the cache
constexpr size_t kScannedInHalves = size_t{16} << 20;  // and from this size on, in two halves at once
constexpr size_t kLargestFile = std::numeric_limits<uint32_t>::max() - 1;  // offsets are 32 bits
constexpr size_t kLinearLookups = 8;  // lookups among the headers one by one before they are indexed
constexpr uint32_t kNoHeader = std::numeric_limits<uint32_t>::max();

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// ---- key paths ---------------------------------------------------------------

// The length of the path of a key's parent: up to its last separator, 0 for
// a key right below the root.
size_t parentLength(std::string_view path) {
    size_t last = 0;
    for (size_t at = findSeparator(path); at != std::string_view::npos; at = findSeparator(path, at + 1)) last = at;
    return last;
}

// A digest of a path's last 16 bytes, folded, and its length.
uint32_t digestOf(std::string_view path) {
    uint64_t first = 0, second = 0;
    if (path.size() >= 16) {
        std::memcpy(&first, path.data() + path.size() - 16, 8);
        std::memcpy(&second, path.data() + path.size() - 8, 8);
    } else {
        unsigned char tail[16] = {};
        if (!path.empty()) std::memcpy(tail + sizeof tail - path.size(), path.data(), path.size());
        std::memcpy(&first, tail, 8);
        std::memcpy(&second, tail + 8, 8);
    }
    uint64_t hash = foldBytes(first) * 0x9E3779B97F4A7C15ull;
    hash ^= (foldBytes(second) + path.size()) * 0xC2B2AE3D27D4EB4Full;
    hash ^= hash >> 29;
    return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// ---- finding header lines ----------------------------------------------------

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

}  // namespace

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

// ---- keys ------------------------------------------------------------------

bool isStorableKeyName(std::string_view name) {
    if (name.empty() || findSeparator(name) != std::string_view::npos) return false;
    for (char c : name)
        if (isControl(static_cast<unsigned char>(c))) return false;
    return true;
}

Hive::Hive() : rootKey_(std::make_unique<RegKey>()), root_(rootKey_.get()) { root_->valuesRead = false; }

Hive::~Hive() {
    if (fd_ >= 0) close(fd_);
}

std::string_view Hive::fileBytes(size_t begin, size_t end, std::string& scratch) const {
    if (fd_ < 0) return text_.view().substr(begin, end - begin);
    scratch.resize(end - begin);
    scratch.resize(readAt(fd_, scratch.data(), end - begin, begin));
    return scratch;
}

size_t Hive::lineNumberAt(size_t offset) const {
    size_t lines = 1;
    std::string stretch;
    for (size_t at = 0; at < offset; at += kStretch) {
        std::string_view text = fileBytes(at, std::min(offset, at + kStretch), stretch);
        lines += static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        if (text.empty()) break;
    }
    return lines;
}

size_t Hive::pathAt(const Header& header) const {
    return header.at + 1 + kRootName.size() + (header.length ? 1 : 0);
}

size_t Hive::bodyEnd(size_t header) const {
    return header + 1 < headers_.size() ? headers_[header + 1].at : size_;
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

void Hive::buildIndex() {
    size_t slots = 16;
    while (slots < headers_.size() * 2) slots *= 2;
    index_.assign(slots, kNoHeader);
    for (uint32_t header = 0; header < headers_.size(); ++header) {
        size_t slot = headers_[header].digest & (slots - 1);
        while (index_[slot] != kNoHeader) slot = (slot + 1) & (slots - 1);
        index_[slot] = header;
    }
}

std::vector<uint32_t> Hive::headersNamed(std::string_view path) {
    std::vector<uint32_t> found;
    const uint32_t digest = digestOf(path);
    auto consider = [&](uint32_t index) {
        const Header& header = headers_[index];
        if (header.digest != digest || header.length != path.size()) return;
        size_t at = pathAt(header);
        if (sameName(fileBytes(at, at + header.length, scratch_), path)) found.push_back(index);
    };
    if (index_.empty() && ++lookups_ > kLinearLookups) buildIndex();
    if (index_.empty()) {
        for (uint32_t index = 0; index < headers_.size(); ++index) consider(index);
        return found;
    }
    const size_t mask = index_.size() - 1;
    for (size_t slot = digest & mask; index_[slot] != kNoHeader; slot = (slot + 1) & mask) consider(index_[slot]);
    std::sort(found.begin(), found.end());
    return found;
}

// The path of a header, with its names checked now that it is read.
bool Hive::checkHeaderPath(uint32_t index, std::string& path) {
    const Header& header = headers_[index];
    size_t at = pathAt(header);
    path.assign(fileBytes(at, at + header.length, scratch_));
    bool storable = path.size() == header.length;
    for (size_t start = 0; storable && start <= path.size();) {
        size_t end = findSeparator(path, start);
        if (end == std::string::npos) end = path.size();
        storable = isStorableKeyName(std::string_view(path).substr(start, end - start));
        start = end + 1;
    }
    if (!storable && !badHeaderLine_) badHeaderLine_ = lineNumberAt(header.at);
    return storable;
}

RegKey& Hive::keep(std::string_view path, std::string upper, std::vector<uint32_t> headers) {
    auto key = std::make_unique<RegKey>();
    key->path = path;
    key->headers = std::move(headers);
    RegKey& kept = *key;
    keys_.emplace(std::move(upper), std::move(key));
    return kept;
}

// Every key above a header whose parent may have none, made known as a key
// of its own.
void Hive::learnImpliedKeys() {
    impliedKnown_ = true;
    std::string path, spelling;
    for (uint32_t index : unproven_) {
        if (!checkHeaderPath(index, path)) return;
        for (size_t end = findSeparator(path); end != std::string::npos; end = findSeparator(path, end + 1)) {
            std::string_view above(path.data(), end);
            std::string upper = upperText(above);
            if (keys_.count(upper)) continue;
            std::vector<uint32_t> named = headersNamed(above);
            if (!named.empty()) {
                size_t at = pathAt(headers_[named[0]]);
                spelling.assign(fileBytes(at, at + headers_[named[0]].length, scratch_));
                keep(spelling, std::move(upper), std::move(named));
            } else {
                keep(above, std::move(upper), {});
            }
        }
    }
}

RegKey* Hive::find(std::string_view path) {
    if (path.empty()) return root_;
    std::string upper = upperText(path);
    if (auto known = keys_.find(upper); known != keys_.end()) return known->second.get();
    if (absent_.count(upper)) return nullptr;
    std::vector<uint32_t> named = headersNamed(path);
    if (!named.empty()) {
        size_t at = pathAt(headers_[named[0]]);
        std::string spelling(fileBytes(at, at + headers_[named[0]].length, scratch_));
        return &keep(spelling, std::move(upper), std::move(named));
    }
    if (!impliedKnown_) {
        learnImpliedKeys();
        if (auto known = keys_.find(upper); known != keys_.end()) return known->second.get();
    }
    absent_.insert(std::move(upper));
    return nullptr;
}

namespace {

void link(RegKey& parent, RegKey& child) {
    parent.subkeys.push_back(&child);
    child.linked = true;
}

}  // namespace

RegKey& Hive::create(std::string_view path, bool& created) {
    if (RegKey* existing = find(path)) return *existing;
    size_t parentEnd = parentLength(path);
    RegKey& parent = parentEnd ? create(path.substr(0, parentEnd), created) : *root_;
    std::string upper = upperText(path);
    absent_.erase(upper);
    RegKey& key = keep(path, std::move(upper), {});
    key.created = true;
    key.valuesRead = true;
    createdOrder_.push_back(&key);
    if (everyKeyKnown_) link(parent, key);
    created = true;
    return key;
}

void Hive::learnEveryKey() {
    everyKeyKnown_ = true;
    if (!impliedKnown_) learnImpliedKeys();
    if (index_.empty()) buildIndex();
    std::string path;
    auto linkUp = [&](RegKey* key) {
        while (key != root_ && !key->linked) {
            size_t parentEnd = parentLength(key->path);
            RegKey* parent = parentEnd ? find(std::string_view(key->path).substr(0, parentEnd)) : root_;
            if (!parent) return;
            link(*parent, *key);
            key = parent;
        }
    };
    for (uint32_t index = 0; index < headers_.size() && !badHeaderLine_; ++index) {
        if (headers_[index].length == 0 || !checkHeaderPath(index, path)) continue;
        linkUp(find(path));
    }
    for (RegKey* key : createdOrder_) linkUp(key);
}

const std::vector<RegKey*>& Hive::subkeysOf(RegKey& key) {
    if (!everyKeyKnown_) learnEveryKey();
    return key.subkeys;
}

// ---- values ----------------------------------------------------------------

namespace {

// Whether two of the hashes may be equal, at the cost of a few bits per
// name: each hash marks a bit, a bit marked twice makes its hashes suspects,
// and only the suspects are compared.
bool mayRepeat(const std::vector<uint64_t>& hashes) {
    size_t bits = 64;
    while (bits < hashes.size() * 16) bits *= 2;
    std::vector<uint64_t> once(bits / 64), twice(bits / 64);
    auto bitOf = [bits](uint64_t hash) { return static_cast<size_t>(hash >> 20) & (bits - 1); };
    for (uint64_t hash : hashes) {
        size_t bit = bitOf(hash);
        uint64_t mask = uint64_t{1} << (bit % 64);
        twice[bit / 64] |= once[bit / 64] & mask;
        once[bit / 64] |= mask;
    }
    std::vector<uint64_t> suspects;
    for (uint64_t hash : hashes) {
        size_t bit = bitOf(hash);
        if (twice[bit / 64] >> (bit % 64) & 1) suspects.push_back(hash);
    }
    std::sort(suspects.begin(), suspects.end());
    return std::adjacent_find(suspects.begin(), suspects.end()) != suspects.end();
}

}  // namespace

size_t Hive::readValues(RegKey& key) {
    if (key.valuesRead) return key.badLine;
    key.valuesRead = true;
    if (key.headers.empty()) return 0;
    nameHashes_.clear();
    struct Body {
        size_t begin, end, fileBegin;
    };
    std::vector<Body> bodies;
    for (uint32_t header : key.headers) {
        size_t begin = headers_[header].lineEnd, end = bodyEnd(header);
        std::string_view text;
        if (key.headers.size() == 1 && fd_ >= 0) {
            key.lines = FileText::readAt(fd_, begin, end - begin);
            text = key.lines.view();
        } else {
            text = fileBytes(begin, end, scratch_);
        }
        if (text.size() != end - begin) {  // the file was cut short since it was read
            key.badLine = lineNumberAt(headers_[header].at);
            return key.badLine;
        }
        if (key.headers.size() == 1) {
            key.text = text;
            key.textAt = static_cast<int64_t>(begin);
            bodies.push_back({0, text.size(), begin});
            break;
        }
        size_t at = key.ownText.size();
        key.ownText.append(text);
        if (!text.empty() && text.back() != '\n') key.ownText += '\n';
        bodies.push_back({at, at + text.size(), begin});
    }
    if (key.headers.size() > 1) key.text = key.ownText;
    for (const Body& body : bodies) {
        if ((key.badLine = readBody(key, body.begin, body.end, body.fileBegin))) break;
    }
    if (key.badLine) {
        key.pieces.clear();
        key.valueCount = 0;
    } else if (key.valueCount > 1 && mayRepeat(nameHashes_)) {
        mergeRepeatedNames(key);
    }
    return key.badLine;
}

// The value lines of one body, [begin, end) in the key's text, become a
// piece; the first line that cannot be read is said by its number.
size_t Hive::readBody(RegKey& key, size_t begin, size_t end, size_t fileBegin) {
    std::string_view text = key.text.substr(0, end);
    const bool endsTheFile = fileBegin + (end - begin) >= size_;
    size_t offset = begin;
    ValuePiece lines{static_cast<uint32_t>(offset), static_cast<uint32_t>(offset), 0, {}, true};
    ValueView value;
    while (offset < end) {
        // Values that are all plain entries, one to a line from the header
        // on, are checked here in bulk and walked later without being read.
        if (lines.entriesOnly && offset == lines.end) {
            std::string_view entry;
            for (; readPlainEntry(text, offset, entry); ++lines.count) nameHashes_.push_back(foldedHash(entry));
            lines.end = static_cast<uint32_t>(offset);
            if (offset >= end) break;
        }
        size_t start = offset;
        bool cut = false;
        std::string_view line = nextLogicalLine(text, offset, joined_, cut);
        if (line.empty() || line[0] == ';') continue;
        // A line that goes on past its key's lines would take in the next header.
        if ((cut && !endsTheFile) || !isValueLine(line) || !readValue(line, value, name_, data_))
            return lineNumberAt(fileBegin + (start - begin));
        nameHashes_.push_back(foldedHash(value.name));
        lines.entriesOnly = false;
        lines.end = static_cast<uint32_t>(offset);
        ++lines.count;
    }
    if (lines.count) {
        key.pieces.push_back(lines);
        key.valueCount += lines.count;
    }
    return 0;
}

// A name given twice keeps the first one's place and spelling with the last
// one's data, as regedit imports it; the later lines are left out.
void Hive::mergeRepeatedNames(RegKey& key) {
    struct Entry {
        uint32_t piece, lineBegin, lineEnd;
        std::string_view name;
        uint64_t hash;
        uint32_t first, last;  // the entry this one repeats, and the last to repeat it
    };
    std::vector<Entry> entries;
    entries.reserve(key.valueCount);
    std::deque<std::string> escapedNames;
    const std::string_view text = key.text;
    auto inText = [&](std::string_view name) {
        return name.empty() || (name.data() >= text.data() && name.data() + name.size() <= text.data() + text.size());
    };
    for (uint32_t index = 0; index < key.pieces.size(); ++index) {
        const ValuePiece& piece = key.pieces[index];
        size_t offset = piece.begin;
        for (uint32_t within = 0; within < piece.count; ++within) {
            size_t start = offset;
            std::string_view line, name;
            if (piece.entriesOnly) {
                name = entryName(nextLine(text, offset));
            } else {
                nextValueLine(text, offset, piece.end, joined_, line, start);
                readValueName(line, name_, name);
                if (!inText(name)) name = escapedNames.emplace_back(name);
            }
            uint32_t self = static_cast<uint32_t>(entries.size());
            entries.push_back({index, static_cast<uint32_t>(start), static_cast<uint32_t>(offset), name,
                               foldedHash(name), self, self});
        }
    }
    size_t slots = 16;
    while (slots < entries.size() * 2) slots *= 2;
    std::vector<uint32_t> table(slots, kNoHeader);
    bool repeated = false;
    for (uint32_t index = 0; index < entries.size(); ++index) {
        Entry& entry = entries[index];
        size_t slot = entry.hash & (slots - 1);
        for (; table[slot] != kNoHeader; slot = (slot + 1) & (slots - 1)) {
            Entry& earlier = entries[table[slot]];
            if (earlier.hash != entry.hash || !sameName(earlier.name, entry.name)) continue;
            entry.first = table[slot];
            earlier.last = index;
            repeated = true;
            break;
        }
        if (entry.first == index) table[slot] = index;
    }
    if (!repeated) return;
    std::vector<ValuePiece> pieces;
    uint32_t regionBegin = 0;
    for (uint32_t index = 0; index < entries.size(); ++index) {
        const Entry& entry = entries[index];
        const ValuePiece& piece = key.pieces[entry.piece];
        if (index == 0 || entries[index - 1].piece != entry.piece) regionBegin = piece.begin;
        if (entry.first != index) {
            regionBegin = entry.lineEnd;
            continue;
        }
        if (entry.last != index) {
            const Entry& last = entries[entry.last];
            size_t offset = last.lineBegin, start = 0;
            std::string_view line;
            ValueView value;
            nextValueLine(text, offset, key.pieces[last.piece].end, joined_, line, start);
            readValue(line, value, name_, data_);
            std::string name(entry.name), data(value.data);
            pieces.push_back({0, 0, 0, storeValue(name, value.type, data)});
        } else {
            pieces.push_back({regionBegin, entry.lineEnd, 1, {}, piece.entriesOnly});
        }
        regionBegin = entry.lineEnd;
    }
    key.pieces = std::move(pieces);
    key.valueCount = key.pieces.size();
}

RegValue Hive::storeValue(std::string_view name, DWORD type, std::string_view data) {
    RegValue value{static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(name.size()),
                   static_cast<uint32_t>(data.size()), type};
    bytes_.append(name).append(data);
    return value;
}

bool Hive::step(const RegKey& key, ValueCursor& cursor, ValueView& value) {
    if (cursor.piece >= key.pieces.size()) return false;
    const ValuePiece& piece = key.pieces[cursor.piece];
    if (!piece.isLines()) {
        value = {nameOf(piece.value), piece.value.type, dataOf(piece.value)};
    } else if (piece.entriesOnly) {
        size_t offset = cursor.within ? cursor.offset : piece.begin;
        value = {entryName(nextLine(key.text, offset)), REG_SZ, {}};
        cursor.offset = static_cast<uint32_t>(offset);
    } else {
        size_t offset = cursor.within ? cursor.offset : piece.begin;
        size_t start = 0;
        std::string_view line;
        // The lines were checked when the key was read: each one reads.
        if (!nextValueLine(key.text, offset, piece.end, joined_, line, start)) return false;
        readValue(line, value, name_, data_);
        cursor.offset = static_cast<uint32_t>(offset);
    }
    ++cursor.index;
    if (++cursor.within >= piece.size()) {
        ++cursor.piece;
        cursor.within = 0;
    }
    return true;
}

bool Hive::valueAt(const RegKey& key, size_t index, ValueCursor& cursor, ValueView& value) {
    if (index >= key.valueCount) return false;
    // A walk that goes back, or whose key changed under it, starts again.
    if (!cursor.valid || cursor.index > index || cursor.version != key.version) cursor = {0, 0, 0, 0, key.version, true};
    while (cursor.index < index) {
        if (!step(key, cursor, value)) return false;
    }
    return step(key, cursor, value);
}

bool Hive::find(const RegKey& key, std::string_view name, Place& place) {
    const std::string_view text = key.text;
    for (size_t index = 0; index < key.pieces.size(); ++index) {
        const ValuePiece& piece = key.pieces[index];
        if (!piece.isLines()) {
            if (!sameName(nameOf(piece.value), name)) continue;
            place = {index, 0, 0, 0};
            return true;
        }
        size_t offset = piece.begin;
        size_t start = 0;
        std::string_view line, found;
        if (piece.entriesOnly) {
            for (uint32_t within = 0; within < piece.count; ++within) {
                start = offset;
                if (!sameName(entryName(nextLine(text, offset)), name)) continue;
                place = {index, within, static_cast<uint32_t>(start), static_cast<uint32_t>(offset)};
                return true;
            }
            continue;
        }
        for (uint32_t within = 0; nextValueLine(text, offset, piece.end, joined_, line, start); ++within) {
            if (readValueName(line, name_, found) && sameName(found, name)) {
                place = {index, within, static_cast<uint32_t>(start), static_cast<uint32_t>(offset)};
                return true;
            }
        }
    }
    return false;
}

bool Hive::findValue(const RegKey& key, std::string_view name, ValueView& value) {
    Place place;
    return find(key, name, place) && valueAt(key, place, value);
}

bool Hive::valueAt(const RegKey& key, const Place& place, ValueView& value) {
    const ValuePiece& piece = key.pieces[place.piece];
    if (!piece.isLines()) {
        value = {nameOf(piece.value), piece.value.type, dataOf(piece.value)};
        return true;
    }
    ValueCursor cursor{0, place.piece, place.within, place.lineBegin, key.version, true};
    return step(key, cursor, value);
}

void Hive::splice(RegKey& key, const Place& place, const std::vector<ValuePiece>& replacement) {
    const ValuePiece piece = key.pieces[place.piece];
    std::vector<ValuePiece> pieces;
    if (piece.isLines()) {
        // The lines before the value's line and those after it stay as they are.
        if (place.within > 0) pieces.push_back({piece.begin, place.lineBegin, place.within, {}, piece.entriesOnly});
        pieces.insert(pieces.end(), replacement.begin(), replacement.end());
        uint32_t after = piece.count - place.within - 1;
        if (after > 0) pieces.push_back({place.lineEnd, piece.end, after, {}, piece.entriesOnly});
    } else {
        pieces = replacement;
    }
    key.pieces.erase(key.pieces.begin() + static_cast<long>(place.piece));
    key.pieces.insert(key.pieces.begin() + static_cast<long>(place.piece), pieces.begin(), pieces.end());
}

void Hive::changed(RegKey& key) {
    ++key.version;
    if (key.rewritten) return;
    key.rewritten = true;
    if (!key.headers.empty()) rewrittenKeys_.push_back(&key);
    else if (!key.created) createdOrder_.push_back(&key);  // only implied until now: written at the end
}

bool Hive::setValue(RegKey& key, std::string_view name, DWORD type, std::string_view data) {
    Place place;
    if (!find(key, name, place)) {
        key.pieces.push_back({0, 0, 0, storeValue(name, type, data)});
        ++key.valueCount;
        changed(key);
        return true;
    }
    ValueView old;
    valueAt(key, place, old);
    if (old.type == type && old.data == data) return false;
    // It keeps its spelling and its place.
    std::string keptName(old.name);
    splice(key, place, {{0, 0, 0, storeValue(keptName, type, data)}});
    changed(key);
    return true;
}

bool Hive::deleteValue(RegKey& key, std::string_view name) {
    Place place;
    if (!find(key, name, place)) return false;
    splice(key, place, {});
    --key.valueCount;
    changed(key);
    return true;
}

// ---- reading and writing the file ---------------------------------------

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

namespace {

// The file's text of a hive being written out, stretch by stretch.
class ImageWriter {
public:
    ImageWriter(HiveImage& image, bool fromFile) : image_(image), fromFile_(fromFile) {}

    void fresh(std::string_view text) {
        if (text.empty()) return;
        if (!image_.parts.empty() && image_.parts.back().kind == HiveImage::Part::Fresh) {
            image_.parts.back().size += text.size();
        } else {
            image_.parts.push_back({HiveImage::Part::Fresh, {}, image_.fresh.size(), text.size()});
        }
        image_.fresh.append(text);
    }
    // Bytes the hive holds (a view of the file's text, or lines of a key).
    void text(std::string_view text) {
        if (!text.empty()) image_.parts.push_back({HiveImage::Part::Text, text, 0, text.size()});
    }
    // Bytes of the file it was read from: copied from it.
    void original(std::string_view heldText, size_t begin, size_t end) {
        if (begin >= end) return;
        if (!fromFile_) return text(heldText.substr(begin, end - begin));
        image_.parts.push_back({HiveImage::Part::File, {}, begin, end - begin});
    }

private:
    HiveImage& image_;
    bool fromFile_;
};

}  // namespace

HiveImage imageOf(const Hive& hive) {
    HiveImage image;
    ImageWriter out(image, hive.fd_ >= 0);
    const std::string_view held = hive.text_.view();
    std::string line;
    auto writeKey = [&](const RegKey& key) {
        line.assign("[").append(kRootName);
        if (!key.path.empty()) line.append("\\").append(key.path);
        out.fresh(line.append("]\n"));
        for (const ValuePiece& piece : key.pieces) {
            if (piece.isLines()) {
                if (key.textAt >= 0) out.original(held, key.textAt + piece.begin, key.textAt + piece.end);
                else out.text(key.text.substr(piece.begin, piece.end - piece.begin));
                if (piece.end == piece.begin || key.text[piece.end - 1] != '\n') out.fresh("\n");
            } else {
                line.clear();
                appendValue(line, hive.nameOf(piece.value), piece.value.type, hive.dataOf(piece.value));
                out.fresh(line);
            }
        }
        out.fresh("\n");
    };
    if (!hive.signed_) {
        // Empty, or blank lines only: nothing to keep.
        out.fresh("REGEDIT4\n\n");
    } else {
        // The file as it is, but for the keys that changed: each written
        // where its first header stood, its other headers and lines left out.
        std::vector<std::pair<uint32_t, const RegKey*>> changedHeaders;
        for (const RegKey* key : hive.rewrittenKeys_)
            for (uint32_t header : key->headers) changedHeaders.emplace_back(header, key);
        std::sort(changedHeaders.begin(), changedHeaders.end());
        size_t copied = 0;
        for (const auto& [header, key] : changedHeaders) {
            out.original(held, copied, hive.headers_[header].at);
            if (header == key->headers.front()) writeKey(*key);
            copied = hive.bodyEnd(header);
        }
        out.original(held, copied, hive.size_);
        if (copied < hive.size_ && !hive.createdOrder_.empty()) {
            std::string last;
            if (hive.fileBytes(hive.size_ - 1, hive.size_, last) != "\n") out.fresh("\n");
        }
    }
    for (const RegKey* key : hive.createdOrder_) writeKey(*key);
    return image;
}

std::vector<FilePart> HiveImage::fileParts(int fileFd) const {
    std::vector<FilePart> out;
    out.reserve(parts.size());
    for (const Part& part : parts) {
        switch (part.kind) {
        case Part::Fresh: out.push_back({std::string_view(fresh).substr(part.begin, part.size)}); break;
        case Part::Text: out.push_back({part.text}); break;
        case Part::File: out.push_back({{}, fileFd, static_cast<off_t>(part.begin), part.size}); break;
        }
    }
    return out;
}

std::string serializeHive(const Hive& hive) {
    HiveImage image = imageOf(hive);
    std::string out, stretch;
    for (const HiveImage::Part& part : image.parts) {
        switch (part.kind) {
        case HiveImage::Part::Fresh: out.append(image.fresh, part.begin, part.size); break;
        case HiveImage::Part::Text: out.append(part.text); break;
        case HiveImage::Part::File: out.append(hive.fileBytes(part.begin, part.begin + part.size, stretch)); break;
        }
    }
    return out;
}

}  // namespace sim
