// The model of a hive: its keys, found among the headers the scan left
// when a call first asks for them, and their values, read from their lines
// when first needed and kept as those lines until one of them changes.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "platform/linux/machine/codepage.h"
#include "platform/linux/hosts/world/hive.h"
#include "platform/linux/hosts/world/hive_parts.h"
#include "platform/linux/machine/lines.h"
#include "platform/linux/hosts/world/value_lines.h"

namespace sim {

using hive::kNoHeader;
using hive::kRootName;
using hive::kStretch;
using hive::parentLength;
using hive::digestOf;
using hive::readAt;

namespace {

constexpr size_t kLinearLookups = 8;  // lookups among the headers one by one before they are indexed

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

// ---- key paths ---------------------------------------------------------------

namespace hive {

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

}  // namespace hive

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

}  // namespace sim
