// The ANSI code page of the Linux build: 1252 by default, 932 (Shift-JIS)
// when VESKCFG_CODEPAGE=932. The world's hives and the names sent to real
// servers are both in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

int ansiCodePage();
bool isLeadByte(unsigned char byte);
unsigned char upperByte(unsigned char byte);
unsigned char lowerByte(unsigned char byte);

// Upper-cased copy, a lead byte and its trail byte passing through unchanged.
std::string upperText(std::string_view text);

// Equal without regard to case, as the registry and the network compare names.
bool sameName(std::string_view left, std::string_view right);

// Eight bytes as a comparison without regard to case sees them, only more
// coarsely: ASCII letters in one case (with a few other pairs of characters),
// every byte of 128 or more as 128. Names that are the same without regard
// to case fold the same, whatever the code page.
inline uint64_t foldBytes(uint64_t bytes) {
    uint64_t high = bytes & 0x8080808080808080ull;
    uint64_t highBytes = (high >> 7) * 0xFF;
    return ((bytes & ~0x2020202020202020ull) & ~highBytes) | high;
}

// A hash of the name folded: names that are the same without regard to case
// have the same hash.
uint64_t foldedHash(std::string_view name);

// A name of the code page in UTF-8, as JSON and the network need it; false
// when it does not convert (a Shift-JIS name that is not one). Every byte of
// code page 1252 converts, the five it leaves undefined to the control
// characters of the same number, so that each converts back.
bool ansiToUtf8(std::string_view name, std::string& out);

// The same, for text to be shown: each character that does not convert (a
// lead byte without its trail) is '?'.
std::string ansiToUtf8OrMark(std::string_view name);

// A UTF-8 name in the code page; '?' for each character it lacks, as Windows
// converts.
std::string utf8ToAnsi(std::string_view text);

// A UTF-8 text in the code page, as typed text must be: false when it holds
// a character the code page lacks, which is then in `lacking` (0x110000 for
// bytes that are no UTF-8).
bool utf8ToAnsiExactly(std::string_view text, std::string& out, char32_t& lacking);

// The position of the next backslash at or after `from` that is a character
// of its own, not the trail byte of a double-byte character; npos when none.
// Windows converts names to Unicode before it splits a path, so a trail byte
// is never a separator.
size_t findSeparator(std::string_view text, size_t from = 0);

}  // namespace sim
