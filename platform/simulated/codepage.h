// The simulated computer's ANSI code page: 1252 by default, 932 (Shift-JIS)
// when VESKCFG_CODEPAGE=932.
#pragma once

#include <cstddef>
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

// The position of the next backslash at or after `from` that is a character
// of its own, not the trail byte of a double-byte character; npos when none.
// Windows converts names to Unicode before it splits a path, so a trail byte
// is never a separator.
size_t findSeparator(std::string_view text, size_t from = 0);

}  // namespace sim
