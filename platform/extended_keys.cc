#include "platform/extended_keys.h"

namespace {

struct KeyCodes {
    int scanCode;
    int plain, shift, ctrl, alt;
};

// Cursor and edit keys; with Ctrl, PgUp of the keypad gives 132, of the
// cluster 134.
const KeyCodes kEditKeys[] = {
    {kScanHome, 71, 71, 119, 151},    {kScanUp, 72, 72, 141, 152},      {kScanPageUp, 73, 73, 132, 153},
    {kScanLeft, 75, 75, 115, 155},    {kScanRight, 77, 77, 116, 157},   {kScanEnd, 79, 79, 117, 159},
    {kScanDown, 80, 80, 145, 160},    {kScanPageDown, 81, 81, 118, 161}, {kScanInsert, 82, 82, 146, 162},
    {kScanDelete, 83, 83, 147, 163},
};

// As on the console, Alt wins over Ctrl, and Ctrl over Shift.
int pick(const KeyCodes& key, int modifiers) {
    if (modifiers & kAltHeld) return key.alt;
    if (modifiers & kCtrlHeld) return key.ctrl;
    if (modifiers & kShiftHeld) return key.shift;
    return key.plain;
}

}  // namespace

bool extendedKeyValues(int scanCode, bool enhanced, int modifiers, int& lead, int& code) {
    if (scanCode >= kScanF1 && scanCode < kScanF1 + 10) {
        lead = 0;
        code = pick({scanCode, scanCode, scanCode + 25, scanCode + 35, scanCode + 45}, modifiers);
        return true;
    }
    if (scanCode == kScanF11 || scanCode == kScanF12) {
        int offset = scanCode - kScanF11;
        lead = 224;
        code = pick({scanCode, 133 + offset, 135 + offset, 137 + offset, 139 + offset}, modifiers);
        return true;
    }
    for (const KeyCodes& key : kEditKeys) {
        if (key.scanCode != scanCode) continue;
        lead = enhanced && !(modifiers & kAltHeld) ? 224 : 0;
        code = pick(key, modifiers);
        if (enhanced && scanCode == kScanPageUp && code == 132) code = 134;
        return true;
    }
    return false;
}
