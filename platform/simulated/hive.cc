#include "platform/simulated/hive.h"

#include <cstdio>
#include <cstdlib>

#include "platform/simulated/codepage.h"
#include "platform/simulated/lines.h"

namespace sim {

static const char kRootName[] = "HKEY_LOCAL_MACHINE";

RegKey* RegKey::findSubkey(const std::string& wanted) {
    for (auto& child : subkeys)
        if (sameName(child->name, wanted)) return child.get();
    return nullptr;
}

RegKey& RegKey::subkey(const std::string& wanted, bool& created) {
    if (RegKey* existing = findSubkey(wanted)) return *existing;
    subkeys.push_back(std::make_unique<RegKey>());
    subkeys.back()->name = wanted;
    created = true;
    return *subkeys.back();
}

long RegKey::findValue(const std::string& wanted) const {
    std::string upperWanted = upperText(wanted);
    for (size_t index = 0; index < values.size(); ++index) {
        const std::string& name = values[index].name;
        if (name.size() == wanted.size() && upperText(name) == upperWanted) return static_cast<long>(index);
    }
    return -1;
}

// ---- writing -------------------------------------------------------------

static std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

static bool isPlainString(const RegValue& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
    for (size_t i = 0; i + 1 < value.data.size(); ++i) {
        char c = value.data[i];
        if (c == '\0' || c == '\r' || c == '\n') return false;
    }
    return true;
}

static std::string hexBytes(const std::string& data) {
    std::string out;
    char pair[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(pair, sizeof pair, i ? ",%02x" : "%02x", static_cast<unsigned char>(data[i]));
        out += pair;
    }
    return out;
}

static std::string valueLine(const RegValue& value) {
    std::string line = value.name.empty() ? "@=" : quoted(value.name) + "=";
    if (isPlainString(value)) return line + quoted(value.data.substr(0, value.data.size() - 1));
    if (value.type == REG_DWORD && value.data.size() == 4) {
        unsigned number = 0;
        for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.data[i]);
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", number);
        return line + text;
    }
    if (value.type == REG_BINARY) return line + "hex:" + hexBytes(value.data);
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
    return line + prefix + hexBytes(value.data);
}

static void writeKey(const RegKey& key, const std::string& path, std::string& out) {
    if (path != kRootName || !key.values.empty()) {
        out += "[" + path + "]\n";
        for (const RegValue& value : key.values) out += valueLine(value) + "\n";
        out += "\n";
    }
    for (const auto& child : key.subkeys) writeKey(*child, path + "\\" + child->name, out);
}

std::string serializeHive(const RegKey& root) {
    std::string out = "REGEDIT4\n\n";
    writeKey(root, kRootName, out);
    return out;
}

// ---- reading -------------------------------------------------------------

// Reads a quoted text at `at`, undoing the backslash escapes.
static bool readQuoted(const std::string& line, size_t& at, std::string& text) {
    if (at >= line.size() || line[at] != '"') return false;
    text.clear();
    for (++at; at < line.size(); ++at) {
        char c = line[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c == '\\') {
            if (++at >= line.size()) return false;
            c = line[at];
        }
        text += c;
    }
    return false;
}

static bool readHex(const std::string& text, std::string& data) {
    data.clear();
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        if (at >= text.size()) break;
        char* end = nullptr;
        unsigned long byte = std::strtoul(text.c_str() + at, &end, 16);
        size_t used = static_cast<size_t>(end - (text.c_str() + at));
        if (used == 0 || used > 2 || byte > 0xFF) return false;
        data += static_cast<char>(byte);
        at += used;
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        if (at < text.size()) {
            if (text[at] != ',') return false;
            ++at;
        }
    }
    return true;
}

static bool readValue(const std::string& line, RegValue& value) {
    size_t at = 0;
    if (line[0] == '@') {
        value.name.clear();
        at = 1;
    } else if (!readQuoted(line, at, value.name)) {
        return false;
    }
    if (at >= line.size() || line[at] != '=') return false;
    std::string rest = line.substr(at + 1);
    if (!rest.empty() && rest[0] == '"') {
        size_t from = 0;
        std::string text;
        if (!readQuoted(rest, from, text) || from != rest.size()) return false;
        value.type = REG_SZ;
        value.data = text + '\0';
        return true;
    }
    if (rest.compare(0, 6, "dword:") == 0) {
        std::string digits = rest.substr(6);
        char* end = nullptr;
        unsigned long number = std::strtoul(digits.c_str(), &end, 16);
        if (digits.empty() || digits.size() > 8 || *end) return false;
        value.type = REG_DWORD;
        value.data.clear();
        for (int i = 0; i < 4; ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xFF);
        return true;
    }
    if (rest.compare(0, 4, "hex:") == 0) {
        value.type = REG_BINARY;
        return readHex(rest.substr(4), value.data);
    }
    if (rest.compare(0, 4, "hex(") == 0) {
        size_t close = rest.find("):");
        if (close == std::string::npos || close == 4) return false;
        std::string typeText = rest.substr(4, close - 4);
        char* end = nullptr;
        unsigned long type = std::strtoul(typeText.c_str(), &end, 16);
        if (*end) return false;
        value.type = static_cast<DWORD>(type);
        return readHex(rest.substr(close + 2), value.data);
    }
    return false;
}

static RegKey* openPath(RegKey& root, const std::string& path) {
    size_t rootLength = sizeof kRootName - 1;
    if (path.size() < rootLength || !sameName(path.substr(0, rootLength), kRootName)) return nullptr;
    if (path.size() == rootLength) return &root;
    if (path[rootLength] != '\\') return nullptr;
    RegKey* key = &root;
    size_t start = rootLength + 1;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end == start) return nullptr;
        bool created = false;
        key = &key->subkey(path.substr(start, end - start), created);
        start = end + 1;
    }
    return key;
}

bool parseHive(const std::string& text, RegKey& root) {
    std::vector<std::string> lines;
    for (std::string_view line : linesOf(text)) {
        // A value's hex data may go on over several lines, each but the last
        // ending in a backslash.
        if (!lines.empty() && !lines.back().empty() && lines.back().back() == '\\' &&
            lines.back().find("=hex") != std::string::npos) {
            lines.back().pop_back();
            size_t first = line.find_first_not_of(" \t");
            if (first != std::string_view::npos) lines.back() += line.substr(first);
        } else {
            lines.emplace_back(line);
        }
    }
    size_t index = 0;
    while (index < lines.size() && lines[index].empty()) ++index;
    if (index == lines.size()) return true;  // an empty file is an empty hive
    if (lines[index] != "REGEDIT4") return false;
    RegKey* current = nullptr;
    for (++index; index < lines.size(); ++index) {
        const std::string& line = lines[index];
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return false;
            current = openPath(root, line.substr(1, line.size() - 2));
            if (!current) return false;
            continue;
        }
        RegValue value;
        if (!current || !readValue(line, value)) return false;
        current->values.push_back(std::move(value));
    }
    return true;
}

}  // namespace sim
