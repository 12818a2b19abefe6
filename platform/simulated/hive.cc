#include "platform/simulated/hive.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/simulated/codepage.h"
#include "platform/simulated/lines.h"

namespace sim {

namespace {

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr size_t kIndexedFrom = 16;  // subkeys a key holds before it keeps an index
const char kHexDigits[] = "0123456789abcdef";

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ---- lines of the text -----------------------------------------------------

// A value's hex data may go on over several lines, each but the last ending
// in a backslash.
bool continues(std::string_view line) {
    return !line.empty() && line.back() == '\\' && line.find("=hex") != std::string_view::npos;
}

// The next line with its continuations joined (in `joined`); lineNumber
// counts every line read.
std::string_view nextLogicalLine(std::string_view text, size_t& offset, std::string& joined, size_t& lineNumber) {
    std::string_view line = nextLine(text, offset);
    ++lineNumber;
    if (!continues(line)) return line;
    joined.assign(line.substr(0, line.size() - 1));
    while (offset < text.size()) {
        std::string_view more = nextLine(text, offset);
        ++lineNumber;
        size_t first = more.find_first_not_of(" \t");
        more = first == std::string_view::npos ? std::string_view() : more.substr(first);
        bool goesOn = !more.empty() && more.back() == '\\';
        joined.append(goesOn ? more.substr(0, more.size() - 1) : more);
        if (!goesOn) break;
    }
    return joined;
}

bool isValueLine(std::string_view line) { return !line.empty() && (line[0] == '"' || line[0] == '@'); }

constexpr std::string_view kEntryEnd = "\"=hex(1):";

// Reads the line at offset when it is a list entry with nothing escaped,
// `"NAME"=hex(1):`, the bulk of a large hive, and moves offset past its line
// end. False, offset unmoved, for any other line.
bool readPlainEntry(std::string_view text, size_t& offset, std::string_view& name) {
    if (offset >= text.size() || text[offset] != '"') return false;
    size_t next = offset;
    std::string_view line = nextLine(text, next);
    if (line.size() <= kEntryEnd.size() || !line.ends_with(kEntryEnd)) return false;
    std::string_view quoted = line.substr(1, line.size() - kEntryEnd.size() - 1);
    if (quoted.find('"') != std::string_view::npos || quoted.find('\\') != std::string_view::npos) return false;
    name = quoted;
    offset = next;
    return true;
}

// The name of an entry that was read as plain when the hive was loaded.
std::string_view entryName(std::string_view line) { return line.substr(1, line.size() - 1 - kEntryEnd.size()); }

// ---- value lines -------------------------------------------------------------

// Reads a quoted text at `at`, undoing the escapes: a backslash takes the
// next character as it stands, except "\xHH", a byte in hex. text is a view
// of the line when nothing was escaped, else of buffer.
bool readQuoted(std::string_view line, size_t& at, std::string& buffer, std::string_view& text) {
    if (at >= line.size() || line[at] != '"') return false;
    // The common case, nothing escaped, in one look at each character.
    size_t close = at + 1;
    while (close < line.size() && line[close] != '"' && line[close] != '\\') ++close;
    if (close < line.size() && line[close] == '"') {
        text = line.substr(at + 1, close - at - 1);
        at = close + 1;
        return true;
    }
    buffer.clear();
    for (++at; at < line.size(); ++at) {
        char c = line[at];
        if (c == '"') {
            ++at;
            text = buffer;
            return true;
        }
        if (c == '\\') {
            if (++at >= line.size()) return false;
            c = line[at];
            if (c == 'x' && at + 2 < line.size() && hexDigit(line[at + 1]) >= 0 && hexDigit(line[at + 2]) >= 0) {
                c = static_cast<char>(hexDigit(line[at + 1]) * 16 + hexDigit(line[at + 2]));
                at += 2;
            }
        }
        buffer += c;
    }
    return false;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Comma-separated bytes of one or two hex digits, blanks allowed around them.
bool readHex(std::string_view text, std::string& data) {
    data.clear();
    size_t at = 0;
    while (at < text.size() && isBlank(text[at])) ++at;
    if (at == text.size()) return true;
    for (;;) {
        int high = at < text.size() ? hexDigit(text[at]) : -1;
        if (high < 0) return false;
        int byte = high;
        ++at;
        if (at < text.size() && hexDigit(text[at]) >= 0) byte = byte * 16 + hexDigit(text[at++]);
        data += static_cast<char>(byte);
        while (at < text.size() && isBlank(text[at])) ++at;
        if (at == text.size()) return true;
        if (text[at] != ',') return false;
        ++at;
        while (at < text.size() && isBlank(text[at])) ++at;
    }
}

bool readHexNumber(std::string_view digits, unsigned long& number) {
    if (digits.empty() || digits.size() > 8) return false;
    number = 0;
    for (char c : digits) {
        int digit = hexDigit(c);
        if (digit < 0) return false;
        number = number * 16 + static_cast<unsigned long>(digit);
    }
    return true;
}

// Reads `"name"=...` or `@=...`; the views are of the line or of the buffers.
bool readValue(std::string_view line, ValueView& value, std::string& nameBuffer, std::string& dataBuffer) {
    size_t at = 0;
    if (line[0] == '@') {
        value.name = {};
        at = 1;
    } else if (!readQuoted(line, at, nameBuffer, value.name)) {
        return false;
    }
    if (at >= line.size() || line[at] != '=') return false;
    std::string_view rest = line.substr(at + 1);
    unsigned long number = 0;
    if (rest == "hex(1):") {  // a list entry: the most common line by far
        value.type = REG_SZ;
        value.data = {};
        return true;
    }
    if (!rest.empty() && rest[0] == '"') {
        size_t from = 0;
        std::string_view text;
        if (!readQuoted(rest, from, dataBuffer, text) || from != rest.size()) return false;
        if (text.data() != dataBuffer.data()) dataBuffer.assign(text);
        dataBuffer += '\0';  // the terminator is part of a string's data
        value.type = REG_SZ;
        value.data = dataBuffer;
        return true;
    }
    value.data = {};
    if (rest.starts_with("dword:")) {
        if (!readHexNumber(rest.substr(6), number)) return false;
        value.type = REG_DWORD;
        dataBuffer.assign(4, '\0');
        for (size_t i = 0; i < 4; ++i) dataBuffer[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
    } else if (rest.starts_with("hex:")) {
        value.type = REG_BINARY;
        if (!readHex(rest.substr(4), dataBuffer)) return false;
    } else if (rest.starts_with("hex(")) {
        size_t close = rest.find("):");
        if (close == std::string_view::npos || !readHexNumber(rest.substr(4, close - 4), number)) return false;
        value.type = static_cast<DWORD>(number);
        if (!readHex(rest.substr(close + 2), dataBuffer)) return false;
    } else {
        return false;
    }
    value.data = dataBuffer;
    return true;
}

// Just the name of a value line, for a search by name.
bool readValueName(std::string_view line, std::string& buffer, std::string_view& name) {
    if (line[0] == '@') {
        name = {};
        return true;
    }
    size_t at = 0;
    return readQuoted(line, at, buffer, name);
}

// The next value line at or after offset, before end, and where it starts;
// offset moves past it.
bool nextValueLine(std::string_view text, size_t& offset, size_t end, std::string& joined, std::string_view& line,
                   size_t& start) {
    size_t ignored = 0;
    while (offset < end) {
        start = offset;
        line = nextLogicalLine(text.substr(0, end), offset, joined, ignored);
        if (isValueLine(line)) return true;
    }
    return false;
}

// ---- writing ---------------------------------------------------------------

// Backslash, quote and control characters are escaped, so that any name
// reads back as it was written.
void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (isControl(byte)) {
            out += "\\x";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendHex(std::string& out, std::string_view data) {
    for (size_t i = 0; i < data.size(); ++i) {
        if (i) out += ',';
        unsigned char byte = static_cast<unsigned char>(data[i]);
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0xF];
    }
}

bool isPlainString(DWORD type, std::string_view data) {
    if (type != REG_SZ || data.empty() || data.back() != '\0') return false;
    return data.substr(0, data.size() - 1).find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

void appendValue(std::string& out, std::string_view name, DWORD type, std::string_view data) {
    if (name.empty()) out += '@';
    else appendQuoted(out, name);
    out += '=';
    if (isPlainString(type, data)) {
        appendQuoted(out, data.substr(0, data.size() - 1));
    } else if (type == REG_DWORD && data.size() == 4) {
        out += "dword:";
        for (size_t i = 4; i-- > 0;) {
            unsigned char byte = static_cast<unsigned char>(data[i]);
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0xF];
        }
    } else if (type == REG_BINARY) {
        out += "hex:";
        appendHex(out, data);
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
        out += prefix;
        appendHex(out, data);
    }
    out += '\n';
}

// The key a header line names, created with its parents when missing.
RegKey* openPath(RegKey& root, std::string_view path) {
    if (path.size() < kRootName.size() || !sameName(path.substr(0, kRootName.size()), kRootName)) return nullptr;
    if (path.size() == kRootName.size()) return &root;
    if (path[kRootName.size()] != '\\') return nullptr;
    RegKey* key = &root;
    size_t start = kRootName.size() + 1;
    for (;;) {
        size_t end = findSeparator(path, start);
        std::string_view part = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!isStorableKeyName(part)) return nullptr;
        bool created = false;
        key = &key->subkey(part, created);
        if (end == std::string_view::npos) return key;
        start = end + 1;
    }
}

}  // namespace

// ---- keys ------------------------------------------------------------------

RegKey* RegKey::findSubkey(std::string_view wanted) {
    if (index_) {
        auto found = index_->find(upperText(wanted));
        return found == index_->end() ? nullptr : found->second;
    }
    for (auto& child : subkeys)
        if (sameName(child->name, wanted)) return child.get();
    return nullptr;
}

RegKey& RegKey::subkey(std::string_view wanted, bool& created) {
    if (RegKey* existing = findSubkey(wanted)) return *existing;
    subkeys.push_back(std::make_unique<RegKey>());
    RegKey* child = subkeys.back().get();
    child->name = wanted;
    created = true;
    if (index_) {
        index_->emplace(upperText(wanted), child);
    } else if (subkeys.size() >= kIndexedFrom) {
        index_ = std::make_unique<std::unordered_map<std::string, RegKey*>>();
        for (auto& each : subkeys) index_->emplace(upperText(each->name), each.get());
    }
    return *child;
}

bool isStorableKeyName(std::string_view name) {
    if (name.empty() || findSeparator(name) != std::string_view::npos) return false;
    for (char c : name)
        if (isControl(static_cast<unsigned char>(c))) return false;
    return true;
}

// ---- values ----------------------------------------------------------------

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
        value = {entryName(nextLine(text_.view(), offset)), REG_SZ, {}};
        cursor.offset = static_cast<uint32_t>(offset);
    } else {
        size_t offset = cursor.within ? cursor.offset : piece.begin;
        size_t start = 0;
        std::string_view line;
        // The lines were checked when the hive was read: each one reads.
        if (!nextValueLine(text_.view(), offset, piece.end, joined_, line, start)) return false;
        readValue(line, value, name_, data_);
        if (value.name.data() == joined_.data()) {
            name_.assign(value.name);  // joined_ is read over at the next step
            value.name = name_;
        }
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
    if (!cursor.valid || cursor.index > index) cursor = {0, 0, 0, 0, true};
    while (cursor.index < index) {
        if (!step(key, cursor, value)) return false;
    }
    return step(key, cursor, value);
}

bool Hive::find(const RegKey& key, std::string_view name, Place& place) {
    std::string_view text = text_.view();
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
    ValueCursor cursor{0, place.piece, place.within, place.lineBegin, true};
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

bool Hive::setValue(RegKey& key, std::string_view name, DWORD type, std::string_view data) {
    Place place;
    if (!find(key, name, place)) {
        key.pieces.push_back({0, 0, 0, storeValue(name, type, data)});
        ++key.valueCount;
        return true;
    }
    ValueView old;
    valueAt(key, place, old);
    if (old.type == type && old.data == data) return false;
    // It keeps its spelling and its place.
    std::string keptName(old.name);
    splice(key, place, {{0, 0, 0, storeValue(keptName, type, data)}});
    return true;
}

bool Hive::deleteValue(RegKey& key, std::string_view name) {
    Place place;
    if (!find(key, name, place)) return false;
    splice(key, place, {});
    --key.valueCount;
    return true;
}

// ---- reading and writing the file ---------------------------------------

size_t parseHive(Hive& hive, std::string_view text) { return parseHive(hive, FileText::copyOf(text)); }

size_t parseHive(Hive& hive, FileText fileText) {
    hive.text_ = std::move(fileText);
    std::string_view text = hive.text_.view();
    if (text.size() >= std::numeric_limits<uint32_t>::max()) return 1;
    size_t offset = 0;
    size_t lineNumber = 0;
    bool started = false;
    RegKey* current = nullptr;
    ValuePiece lines;
    std::string joined, name, data;
    ValueView value;
    // The lines under a header become a piece of the key's values.
    auto finish = [&] {
        if (!current || lines.count == 0) return;
        current->pieces.push_back(lines);
        current->valueCount += lines.count;
    };
    while (offset < text.size()) {
        // Values that are all plain entries, one to a line from the header
        // on, are checked here in bulk and walked later without being read.
        if (current && lines.entriesOnly && offset == lines.end) {
            std::string_view entry;
            for (; readPlainEntry(text, offset, entry); ++lineNumber) ++lines.count;
            lines.end = static_cast<uint32_t>(offset);
            if (offset == text.size()) break;
        }
        size_t first = lineNumber + 1;
        std::string_view line = nextLogicalLine(text, offset, joined, lineNumber);
        if (!started) {
            if (line.empty()) continue;
            if (line != "REGEDIT4") return first;
            started = true;
        } else if (line.empty() || line[0] == ';') {
        } else if (line[0] == '[') {
            finish();
            if (line.back() != ']') return first;
            current = openPath(hive.root, line.substr(1, line.size() - 2));
            if (!current) return first;
            lines = {static_cast<uint32_t>(offset), static_cast<uint32_t>(offset), 0, {}, true};
        } else {
            if (!current || !isValueLine(line) || !readValue(line, value, name, data)) return first;
            lines.entriesOnly = false;
            lines.end = static_cast<uint32_t>(offset);
            ++lines.count;
        }
    }
    finish();
    return 0;
}

std::string serializeHive(const Hive& hive) {
    std::string out;
    out.reserve(hive.text_.view().size() + 4096);
    out += "REGEDIT4\n\n";
    std::string path(kRootName);
    // Value lines as the file held them are copied unchanged.
    auto writeKey = [&](auto& self, const RegKey& key) -> void {
        if (path != kRootName || key.valueCount > 0) {
            out.append("[").append(path).append("]\n");
            for (const ValuePiece& piece : key.pieces) {
                if (piece.isLines()) {
                    out.append(hive.text_.view().substr(piece.begin, piece.end - piece.begin));
                    if (out.back() != '\n') out += '\n';
                } else {
                    appendValue(out, hive.nameOf(piece.value), piece.value.type, hive.dataOf(piece.value));
                }
            }
            out += '\n';
        }
        for (const auto& child : key.subkeys) {
            size_t parentLength = path.size();
            path.append("\\").append(child->name);
            self(self, *child);
            path.resize(parentLength);
        }
    };
    writeKey(writeKey, hive.root);
    return out;
}

}  // namespace sim
