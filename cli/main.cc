#include "cli/dispatcher.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    int result = CommandDispatcher(argc, argv);
    ReportHeldInterrupt();
    return ExitStatusFromResult(result);
}
