/* How many lanes a walk that proved long on a slow link spreads over
 * (winreg_module.h says why): as many as loadBudget seconds of the server's
 * work allow, a handle costing it what the walk's first step took beyond
 * the quickest round trip, counted as a millisecond at least (a first step
 * quicker than that round trip then affords the most), and never more than
 * most. Without Samba's headers, for the module and its test. */
#ifndef VESKCFG_LANES_H
#define VESKCFG_LANES_H

#include <stdint.h>

static inline uint32_t lanesAffordable(double firstStep, double quickestCall, double loadBudget, uint32_t most) {
    double handleCost = firstStep - quickestCall;
    double affordable = 1 + loadBudget / (handleCost > 0.001 ? handleCost : 0.001);
    return affordable < most ? (uint32_t)affordable : most;
}

#endif
