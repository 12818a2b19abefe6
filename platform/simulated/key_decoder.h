// Turns what a terminal sends for one key into the values the Windows
// console key reader gives for it: a character's byte, or a lead value (0 or
// 224) and the key's code for arrow, edit and function keys.
#pragma once

#include <deque>
#include <functional>

namespace sim {

// The next byte from the terminal: 0-255; kNoByteYet when `briefly` was asked
// and nothing came in time; kInputFailed when the input cannot be read.
constexpr int kNoByteYet = -1;
constexpr int kInputFailed = -2;
using NextByte = std::function<int(bool briefly)>;

// Reads the bytes of one key and appends its values (none for a sequence that
// stands for no key the console knows). False when the input failed.
bool decodeKey(const NextByte& next, std::deque<int>& values);

}  // namespace sim
