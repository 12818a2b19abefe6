#include "platform/linux/console/key_decoder.h"

#include <vector>

#include "platform/extended_keys.h"

namespace sim {

int KeyValues::take() {
    int first = values[0];
    for (size_t i = 1; i < count; ++i) values[i - 1] = values[i];
    values[--count] = 0;
    return first;
}

void KeyValues::wipe() {
    volatile int* each = values;
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) each[i] = 0;
    count = 0;
}

namespace {

// xterm's modifier parameter: 1 + (Shift 1 | Alt 2 | Ctrl 4).
int modifiersOf(int parameter) {
    int bits = parameter > 1 ? parameter - 1 : 0;
    return ((bits & 1) ? kShiftHeld : 0) | ((bits & 2) ? kAltHeld : 0) | ((bits & 4) ? kCtrlHeld : 0);
}

void pushKey(int scanCode, int parameter, KeyValues& values) {
    // The terminal's arrow and edit keys are those of the separate cluster.
    bool enhanced = scanCode >= kScanHome && scanCode <= kScanDelete;
    int lead = 0, code = 0;
    if (!extendedKeyValues(scanCode, enhanced, modifiersOf(parameter), lead, code)) return;
    values.push(lead);
    values.push(code);
}

int scanForLetter(int letter) {
    switch (letter) {
        case 'A': return kScanUp;
        case 'B': return kScanDown;
        case 'C': return kScanRight;
        case 'D': return kScanLeft;
        case 'H': return kScanHome;
        case 'F': return kScanEnd;
        case 'P': case 'Q': case 'R': case 'S': return kScanF1 + (letter - 'P');
        default: return 0;
    }
}

int scanForNumber(int number) {
    switch (number) {
        case 1: case 7: return kScanHome;
        case 2: return kScanInsert;
        case 3: return kScanDelete;
        case 4: case 8: return kScanEnd;
        case 5: return kScanPageUp;
        case 6: return kScanPageDown;
        case 11: case 12: case 13: case 14: case 15: return kScanF1 + (number - 11);
        case 17: case 18: case 19: case 20: case 21: return kScanF1 + (number - 12);
        case 23: return kScanF11;
        case 24: return kScanF12;
        default: return 0;
    }
}

// After ESC [ : parameters, then a final byte.
bool decodeCsi(const NextByte& next, KeyValues& values) {
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
            if (letter >= 'A' && letter <= 'E') pushKey(kScanF1 + (letter - 'A'), 1, values);
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
            if (!parameters.empty()) pushKey(scanForNumber(parameters[0]), modifier, values);
        } else if (byte == 'Z') {
            values.push(9);  // Shift+Tab: the console gives a Tab
        } else {
            pushKey(scanForLetter(byte), modifier, values);
        }
        return true;
    }
}

}  // namespace

bool decodeKey(const NextByte& next, KeyValues& values, const ReadCharacter& character) {
    int byte = next(false);
    if (byte < 0) return false;
    if (byte == 127 || byte == 8) {  // the terminal's erase key is Backspace
        values.push(8);
        return true;
    }
    if (byte >= 0x80 && character) return character(byte, next, values);
    if (byte != 27) {
        values.push(byte);
        return true;
    }
    int second = next(true);
    if (second == kInputFailed || second == kNoByteYet) {  // a lone Esc
        values.push(27);
        return true;
    }
    if (second == '[') return decodeCsi(next, values);
    if (second == 'O') {
        int letter = next(true);
        if (letter == kInputFailed) return false;
        pushKey(scanForLetter(letter), 1, values);
        return true;
    }
    // Esc followed by another key: Esc first, then that key.
    values.push(27);
    values.push(second == 127 ? 8 : second);
    return true;
}

}  // namespace sim
