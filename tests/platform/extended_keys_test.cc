#include "platform/extended_keys.h"

#include <gtest/gtest.h>

namespace {

struct KeyCase {
    int scanCode;
    bool enhanced;
    int modifiers;
    int lead, code;
};

TEST(ExtendedKeys, LeadAndCodeAsTheConsoleGivesThem) {
    const KeyCase cases[] = {
        {kScanUp, true, 0, 224, 72},           {kScanUp, false, 0, 0, 72},  // the keypad's, NumLock off
        {kScanUp, true, kCtrlHeld, 224, 141},  {kScanUp, true, kAltHeld | kCtrlHeld, 0, 152},
        {kScanPageUp, true, kCtrlHeld, 224, 134}, {kScanPageUp, false, kCtrlHeld, 0, 132},
        {kScanDelete, true, kShiftHeld, 224, 83}, {kScanF1, false, 0, 0, 59},
        {kScanF1 + 9, false, kAltHeld, 0, 113}, {kScanF11, false, 0, 224, 133},
        {kScanF12, false, kShiftHeld, 224, 136},
    };
    for (const KeyCase& c : cases) {
        int lead = -1, code = -1;
        ASSERT_TRUE(extendedKeyValues(c.scanCode, c.enhanced, c.modifiers, lead, code)) << c.scanCode;
        EXPECT_EQ(lead, c.lead) << c.scanCode;
        EXPECT_EQ(code, c.code) << c.scanCode;
    }
    int lead = 0, code = 0;
    EXPECT_FALSE(extendedKeyValues(42, false, 0, lead, code));  // Shift alone
}

}  // namespace
