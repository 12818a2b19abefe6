// VeskCfg's start: the console's arguments, one command, and its result as
// the process's exit status.
#include "cli/dispatcher.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
    argv = OpenConsole(argc, argv);
    if (!argv) return ExitStatusFromResult(ERROR_INVALID_NAME);
    int result = CommandDispatcher(argc, argv);
    ReportHeldInterrupt();
    return ExitStatusFromResult(result);
}
