// The value lines of a hive file: read as regedit writes them (and as
// people edit them), written so that they read back exactly.
#include "platform/linux/hosts/world/value_lines.h"

#include <cstdio>

#include "platform/linux/machine/lines.h"

namespace sim {

namespace {

const char kHexDigits[] = "0123456789abcdef";

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// A value's hex data may go on over several lines, each but the last ending
// in a backslash. A comment never goes on.
bool continues(std::string_view line) {
    return isValueLine(line) && line.back() == '\\' && line.find("=hex") != std::string_view::npos;
}

constexpr std::string_view kEntryEnd = "\"=hex(1):";

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

}  // namespace


bool isValueLine(std::string_view line) { return !line.empty() && (line[0] == '"' || line[0] == '@'); }

// The next line with its continuations joined (in `joined`); cut when the
// text ends while the line goes on.
std::string_view nextLogicalLine(std::string_view text, size_t& offset, std::string& joined, bool& cut) {
    std::string_view line = nextLine(text, offset);
    if (!continues(line)) return line;
    joined.assign(line.substr(0, line.size() - 1));
    for (;;) {
        if (offset >= text.size()) {
            cut = true;
            return joined;
        }
        std::string_view more = nextLine(text, offset);
        size_t first = more.find_first_not_of(" \t");
        more = first == std::string_view::npos ? std::string_view() : more.substr(first);
        bool goesOn = !more.empty() && more.back() == '\\';
        joined.append(goesOn ? more.substr(0, more.size() - 1) : more);
        if (!goesOn) return joined;
    }
}

std::string_view nextLogicalLine(std::string_view text, size_t& offset, std::string& joined) {
    bool cut = false;
    return nextLogicalLine(text, offset, joined, cut);
}

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

// The name of an entry that was read as plain when its key was read.
std::string_view entryName(std::string_view line) { return line.substr(1, line.size() - 1 - kEntryEnd.size()); }

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
    while (offset < end) {
        start = offset;
        line = nextLogicalLine(text.substr(0, end), offset, joined);
        if (isValueLine(line)) return true;
    }
    return false;
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

}  // namespace sim
