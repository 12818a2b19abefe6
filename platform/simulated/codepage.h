// The simulated computer's ANSI code page: 1252 by default, 932 (Shift-JIS)
// when VESKCFG_CODEPAGE=932.
#pragma once

#include <string>

namespace sim {

int ansiCodePage();
bool isLeadByte(unsigned char byte);
unsigned char upperByte(unsigned char byte);
unsigned char lowerByte(unsigned char byte);

// Upper-cased copy, a lead byte and its trail byte passing through unchanged.
std::string upperText(const std::string& text);

// Equal without regard to case, as the registry and the network compare names.
bool sameName(const std::string& left, const std::string& right);

}  // namespace sim
