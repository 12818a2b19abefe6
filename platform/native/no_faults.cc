#include "platform/standin_faults.h"

// Failures are injected only into the simulated world.
LONG StandInFault(const char*) { return 0; }
