#include "platform/simulated/key_decoder.h"

#include <vector>

namespace sim {
namespace {

// Lead and code of an extended key, plain and with Shift, Ctrl or Alt.
struct ExtendedKey {
    int plain[2], shift[2], ctrl[2], alt[2];
};

const ExtendedKey kUp{{224, 72}, {224, 72}, {224, 141}, {0, 152}};
const ExtendedKey kDown{{224, 80}, {224, 80}, {224, 145}, {0, 160}};
const ExtendedKey kLeft{{224, 75}, {224, 75}, {224, 115}, {0, 155}};
const ExtendedKey kRight{{224, 77}, {224, 77}, {224, 116}, {0, 157}};
const ExtendedKey kHome{{224, 71}, {224, 71}, {224, 119}, {0, 151}};
const ExtendedKey kEnd{{224, 79}, {224, 79}, {224, 117}, {0, 159}};
const ExtendedKey kPageUp{{224, 73}, {224, 73}, {224, 134}, {0, 153}};
const ExtendedKey kPageDown{{224, 81}, {224, 81}, {224, 118}, {0, 161}};
const ExtendedKey kInsert{{224, 82}, {224, 82}, {224, 146}, {0, 162}};
const ExtendedKey kDelete{{224, 83}, {224, 83}, {224, 147}, {0, 163}};
const ExtendedKey kFunction[12] = {
    {{0, 59}, {0, 84}, {0, 94}, {0, 104}},         {{0, 60}, {0, 85}, {0, 95}, {0, 105}},
    {{0, 61}, {0, 86}, {0, 96}, {0, 106}},         {{0, 62}, {0, 87}, {0, 97}, {0, 107}},
    {{0, 63}, {0, 88}, {0, 98}, {0, 108}},         {{0, 64}, {0, 89}, {0, 99}, {0, 109}},
    {{0, 65}, {0, 90}, {0, 100}, {0, 110}},        {{0, 66}, {0, 91}, {0, 101}, {0, 111}},
    {{0, 67}, {0, 92}, {0, 102}, {0, 112}},        {{0, 68}, {0, 93}, {0, 103}, {0, 113}},
    {{224, 133}, {224, 135}, {224, 137}, {224, 139}}, {{224, 134}, {224, 136}, {224, 138}, {224, 140}},
};

// xterm's modifier parameter: 1 + (Shift 1 | Alt 2 | Ctrl 4). As on the
// console, Alt wins over Ctrl, and Ctrl over Shift.
void pushKey(const ExtendedKey& key, int modifier, std::deque<int>& values) {
    int bits = modifier > 1 ? modifier - 1 : 0;
    const int* pair = (bits & 2) ? key.alt : (bits & 4) ? key.ctrl : (bits & 1) ? key.shift : key.plain;
    values.push_back(pair[0]);
    values.push_back(pair[1]);
}

const ExtendedKey* keyForLetter(int letter) {
    switch (letter) {
        case 'A': return &kUp;
        case 'B': return &kDown;
        case 'C': return &kRight;
        case 'D': return &kLeft;
        case 'H': return &kHome;
        case 'F': return &kEnd;
        case 'P': return &kFunction[0];
        case 'Q': return &kFunction[1];
        case 'R': return &kFunction[2];
        case 'S': return &kFunction[3];
        default: return nullptr;
    }
}

const ExtendedKey* keyForNumber(int number) {
    switch (number) {
        case 1: case 7: return &kHome;
        case 2: return &kInsert;
        case 3: return &kDelete;
        case 4: case 8: return &kEnd;
        case 5: return &kPageUp;
        case 6: return &kPageDown;
        case 11: case 12: case 13: case 14: case 15: return &kFunction[number - 11];
        case 17: case 18: case 19: case 20: case 21: return &kFunction[number - 12];
        case 23: case 24: return &kFunction[number - 13];
        default: return nullptr;
    }
}

// After ESC [ : parameters, then a final byte.
bool decodeCsi(const NextByte& next, std::deque<int>& values) {
    std::vector<int> parameters;
    int current = -1;
    for (;;) {
        int byte = next(true);
        if (byte == kInputFailed) return false;
        if (byte == kNoByteYet) return true;  // a cut sequence is no key
        if (byte == '[' && parameters.empty() && current < 0) {
            // The Linux console's F1-F5: ESC [ [ A .. E
            int letter = next(true);
            if (letter == kInputFailed) return false;
            if (letter >= 'A' && letter <= 'E') pushKey(kFunction[letter - 'A'], 1, values);
            return true;
        }
        if (byte >= '0' && byte <= '9') {
            current = (current < 0 ? 0 : current) * 10 + (byte - '0');
            if (current > 1000) current = 1000;
            continue;
        }
        if (byte == ';') {
            parameters.push_back(current < 0 ? 1 : current);
            current = -1;
            continue;
        }
        if (current >= 0) parameters.push_back(current);
        if (byte < 0x40 || byte > 0x7E) return true;  // not a sequence we know
        int modifier = parameters.size() >= 2 ? parameters[1] : 1;
        if (byte == '~') {
            if (const ExtendedKey* key = parameters.empty() ? nullptr : keyForNumber(parameters[0]))
                pushKey(*key, modifier, values);
        } else if (byte == 'Z') {
            values.push_back(9);  // Shift+Tab: the console gives a Tab
        } else if (const ExtendedKey* key = keyForLetter(byte)) {
            pushKey(*key, modifier, values);
        }
        return true;
    }
}

}  // namespace

bool decodeKey(const NextByte& next, std::deque<int>& values) {
    int byte = next(false);
    if (byte < 0) return false;
    if (byte == 127 || byte == 8) {  // the terminal's erase key is Backspace
        values.push_back(8);
        return true;
    }
    if (byte != 27) {
        values.push_back(byte);
        return true;
    }
    int second = next(true);
    if (second == kInputFailed || second == kNoByteYet) {  // a lone Esc
        values.push_back(27);
        return true;
    }
    if (second == '[') return decodeCsi(next, values);
    if (second == 'O') {
        int letter = next(true);
        if (letter == kInputFailed) return false;
        if (const ExtendedKey* key = keyForLetter(letter)) pushKey(*key, 1, values);
        return true;
    }
    // Esc followed by another key: Esc first, then that key.
    values.push_back(27);
    values.push_back(second == 127 ? 8 : second);
    return true;
}

}  // namespace sim
