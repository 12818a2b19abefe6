// The two values the Windows console key reader gives for a key that yields
// no character: a lead value (0 or 224) and the key's code. Both console
// backends take them from here.
#pragma once

constexpr int kShiftHeld = 1;
constexpr int kCtrlHeld = 2;
constexpr int kAltHeld = 4;

// Scan codes of the keys that have extended codes.
enum ScanCode {
    kScanF1 = 59,  // F1 to F10 are 59 to 68
    kScanHome = 71,
    kScanUp = 72,
    kScanPageUp = 73,
    kScanLeft = 75,
    kScanRight = 77,
    kScanEnd = 79,
    kScanDown = 80,
    kScanPageDown = 81,
    kScanInsert = 82,
    kScanDelete = 83,
    kScanF11 = 87,
    kScanF12 = 88,
};

// `enhanced`: the key of the separate cursor and edit cluster, not of the
// keypad. False when the key has no extended code.
bool extendedKeyValues(int scanCode, bool enhanced, int modifiers, int& lead, int& code);
