#include "cli/dispatcher.h"
#include "platform/process.h"

int main(int argc, char** argv) { return ExitStatusFromResult(CommandDispatcher(argc, argv)); }
