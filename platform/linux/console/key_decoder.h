// Turns what a terminal sends for one key into the values the Windows
// console key reader gives for it: a character's byte, or a lead value (0 or
// 224) and the key's code for arrow, edit and function keys.
#pragma once

#include <cstddef>
#include <functional>

namespace sim {

// The next byte from the terminal: 0-255; kNoByteYet when `briefly` was asked
// and nothing came in time; kInputFailed when the input cannot be read.
constexpr int kNoByteYet = -1;
constexpr int kInputFailed = -2;
using NextByte = std::function<int(bool briefly)>;

// The values of the keys read so far and not yet taken. They may be a
// password's: kept in a fixed place, so that wiping them wipes every copy.
struct KeyValues {
    int values[8] = {};
    size_t count = 0;
    void push(int value) {
        if (count < sizeof values / sizeof values[0]) values[count++] = value;
    }
    int take();  // the first value; the rest move up
    void wipe();
};

// Reads the rest of a typed character whose first byte, 0x80 or more, was
// first, and appends the code page's values for it; false when the input
// failed. Without one, each such byte is a key of its own.
using ReadCharacter = std::function<bool(int first, const NextByte& next, KeyValues& values)>;

// Reads the bytes of one key and appends its values (none for a sequence that
// stands for no key the console knows; at most two otherwise). False when the
// input failed.
bool decodeKey(const NextByte& next, KeyValues& values, const ReadCharacter& character = nullptr);

}  // namespace sim
