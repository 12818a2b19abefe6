// How many lanes a slow walk spreads over: all 16 where a handle costs the
// server little, fewer as it costs more, so that the lanes' work stays
// within two seconds.
#include <gtest/gtest.h>

#include "platform/linux/hosts/smb/lanes.h"

namespace {

TEST(WalkLanes, AsManyAsAHandlesCostAffords) {
    const struct {
        const char* handle;
        double firstStep, quickestCall;
        uint32_t lanes;
    } rows[] = {
        {"costs a millisecond", 0.006, 0.005, 16},
        {"costs nothing: a first step quicker than the quickest call", 0.004, 0.005, 16},
        {"costs 0.3 s", 0.305, 0.005, 7},
        {"costs 0.45 s", 0.455, 0.005, 5},
        {"costs 1.5 s", 1.505, 0.005, 2},
        {"costs 10 s", 10.005, 0.005, 1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(lanesAffordable(row.firstStep, row.quickestCall, 2.0, 16), row.lanes) << "a handle that " << row.handle;
}

}  // namespace
