#include "platform/linux/machine/codepage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <string.h>

#include "platform/linux/machine/trace.h"
#include "platform/win32.h"

namespace sim {

int ansiCodePage() {
    static const int codePage = [] {
        const char* setting = std::getenv("VESKCFG_CODEPAGE");
        if (!setting || !*setting || std::strcmp(setting, "1252") == 0) return 1252;
        if (std::strcmp(setting, "932") == 0) return 932;
        diagnose("VESKCFG_CODEPAGE=\"%s\" is not a code page the simulation knows (1252 or 932); 1252 is used.",
                 setting);
        return 1252;
    }();
    return codePage;
}

bool isLeadByte(unsigned char byte) {
    return ansiCodePage() == 932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

unsigned char upperByte(unsigned char byte) {
    if (byte >= 'a' && byte <= 'z') return byte - 0x20;
    if (ansiCodePage() != 1252) return byte;
    switch (byte) {
        case 0x9A: return 0x8A;
        case 0x9C: return 0x8C;
        case 0x9E: return 0x8E;
        case 0xFF: return 0x9F;
        default: break;
    }
    if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return byte - 0x20;
    return byte;
}

unsigned char lowerByte(unsigned char byte) {
    if (byte >= 'A' && byte <= 'Z') return byte + 0x20;
    if (ansiCodePage() != 1252) return byte;
    switch (byte) {
        case 0x8A: return 0x9A;
        case 0x8C: return 0x9C;
        case 0x8E: return 0x9E;
        case 0x9F: return 0xFF;
        default: break;
    }
    if (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7) return byte + 0x20;
    return byte;
}

template <unsigned char (*Map)(unsigned char)>
static void mapInPlace(unsigned char* text) {
    for (unsigned char* at = text; *at; ++at) {
        if (isLeadByte(*at)) {
            if (at[1] == 0) break;  // a lead byte without its trail ends the text
            ++at;
            continue;
        }
        *at = Map(*at);
    }
}

std::string upperText(std::string_view text) {
    std::string copy(text);
    mapInPlace<upperByte>(reinterpret_cast<unsigned char*>(copy.data()));
    return copy;
}

namespace {

// The word of up to eight bytes at `at`, zeros past the end.
// (The last, short one read as the eight bytes that end the text, shifted.)
uint64_t wordAt(std::string_view text, size_t at) {
    uint64_t word = 0;
    if (at + 8 <= text.size()) {
        std::memcpy(&word, text.data() + at, 8);
    } else if (text.size() >= 8) {
        std::memcpy(&word, text.data() + text.size() - 8, 8);
        word >>= 8 * (8 - (text.size() - at));
    } else {
        std::memcpy(&word, text.data() + at, text.size() - at);
    }
    return word;
}

}  // namespace

uint64_t foldedHash(std::string_view name) {
    uint64_t hash = name.size() * 0x9E3779B97F4A7C15ull;
    for (size_t at = 0; at < name.size(); at += 8) {
        hash = (hash ^ foldBytes(wordAt(name, at))) * 0xC2B2AE3D27D4EB4Full;
        hash ^= hash >> 31;
    }
    return hash;
}

bool sameName(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) return false;
    // Most names compared differ in their folded bytes, or not at all.
    for (size_t at = 0; at < left.size(); at += 8) {
        uint64_t l = wordAt(left, at), r = wordAt(right, at);
        if (l != r && foldBytes(l) != foldBytes(r)) return false;
    }
    if (left == right) return true;
    for (size_t at = 0; at < left.size(); ++at) {
        unsigned char l = static_cast<unsigned char>(left[at]);
        unsigned char r = static_cast<unsigned char>(right[at]);
        if (isLeadByte(l) && at + 1 < left.size()) {
            // A double-byte character has no case: both bytes must match.
            if (l != r || left[at + 1] != right[at + 1]) return false;
            ++at;
            continue;
        }
        if (upperByte(l) != upperByte(r)) return false;
    }
    return true;
}

// Code page 1252's bytes 0x80 to 0x9F as Windows converts them; the bytes
// it leaves undefined become the control characters of the same number, so
// that every byte has a character of its own and converts back.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

// A password goes through here too: the output is sized once, never moved
// (a move would leave a copy in the memory given back), and the input's copy
// is wiped.
bool ansiToUtf8(std::string_view name, std::string& out) {
    out.clear();
    out.reserve(name.size() * 3 + 4);
    if (sim::ansiCodePage() != 932) {
        for (unsigned char byte : name) appendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte);
        return true;
    }
    static iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string in(name);
    out.resize(name.size() * 3 + 4);
    char* from = in.data();
    char* to = out.data();
    size_t fromLeft = in.size(), toLeft = out.size();
    bool converted = iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1);
    explicit_bzero(in.data(), in.size());
    out.resize(converted ? out.size() - toLeft : 0);
    return converted;
}

std::string ansiToUtf8OrMark(std::string_view text) {
    std::string out;
    if (ansiToUtf8(text, out)) return out;
    out.clear();
    for (size_t at = 0; at < text.size();) {
        size_t length = isLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
        std::string one;
        out += ansiToUtf8(text.substr(at, length), one) ? one : "?";
        at += length;
    }
    return out;
}

namespace {

constexpr char32_t kNotUtf8 = 0x110000;  // beyond every character

// One character of UTF-8 at `at`, which moves past it; kNotUtf8 for bytes
// that are not one.
char32_t nextCodePoint(std::string_view text, size_t& at) {
    unsigned char lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) return lead;
    if (lead < 0xC2 || lead > 0xF4) return kNotUtf8;
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t c = lead & (0x3F >> extra);
    for (int i = 0; i < extra; ++i) {
        if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) return kNotUtf8;
        c = (c << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
    }
    static const char32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
    if (c < kShortest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kNotUtf8;
    return c;
}

// Appends the code page's bytes for the character one, which `text` holds
// in UTF-8; false when the code page has none for it.
bool appendAnsi(std::string_view one, char32_t c, std::string& out) {
    if (c == kNotUtf8) return false;
    if (ansiCodePage() != 932) {
        const char32_t* high = std::find(kCp1252High, kCp1252High + 32, c);
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) out += static_cast<char>(c);
        else if (high != kCp1252High + 32) out += static_cast<char>(0x80 + (high - kCp1252High));
        else return false;
        return true;
    }
    static iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in(one);
    char converted[8];
    char* from = in.data();
    char* to = converted;
    size_t fromLeft = in.size(), toLeft = sizeof converted;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &from, &fromLeft, &to, &toLeft) == static_cast<size_t>(-1)) return false;
    out.append(converted, sizeof converted - toLeft);
    return true;
}

}  // namespace

std::string utf8ToAnsi(std::string_view text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t start = at;
        char32_t c = nextCodePoint(text, at);
        if (!appendAnsi(text.substr(start, at - start), c, out)) out += '?';
    }
    return out;
}

bool utf8ToAnsiExactly(std::string_view text, std::string& out, char32_t& lacking) {
    out.clear();
    out.reserve(text.size());  // never longer: a password is never moved, leaving a copy behind
    for (size_t at = 0; at < text.size();) {
        size_t start = at;
        char32_t c = nextCodePoint(text, at);
        if (appendAnsi(text.substr(start, at - start), c, out)) continue;
        lacking = c;
        return false;
    }
    return true;
}

size_t findSeparator(std::string_view text, size_t from) {
    for (size_t at = from; at < text.size(); ++at) {
        if (text[at] == '\\') return at;
        if (isLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size()) ++at;
    }
    return std::string_view::npos;
}

}  // namespace sim

unsigned char* _mbsupr(unsigned char* text) {
    sim::mapInPlace<sim::upperByte>(text);
    return text;
}

unsigned char* _mbslwr(unsigned char* text) {
    sim::mapInPlace<sim::lowerByte>(text);
    return text;
}

// A double-byte character compares as its lead byte then its trail byte, so
// byte order is character order.
int _mbscmp(const unsigned char* left, const unsigned char* right) {
    while (*left && *left == *right) {
        ++left;
        ++right;
    }
    return static_cast<int>(*left) - static_cast<int>(*right);
}
