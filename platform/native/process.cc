#include "platform/process.h"

// A Windows exit status holds the whole result code.
int ExitStatusFromResult(long result) { return static_cast<int>(result); }
