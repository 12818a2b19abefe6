#include "platform/process.h"

#include <windows.h>
#include <io.h>

#include <cstdio>

// A Windows exit status holds the whole result code.
int ExitStatusFromResult(long result) { return static_cast<int>(result); }

namespace {

volatile LONG heldEvent = -1;

// Ctrl+C, Ctrl+Break, or the console being closed, during a change: noted,
// and the run goes on. (Windows ends a process whose console is closed a few
// seconds after the handler returns, whatever it answers.)
BOOL WINAPI holdEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    InterlockedCompareExchange(&heldEvent, static_cast<LONG>(event), -1);
    return TRUE;
}

}  // namespace

void HoldThisConsole(const char*) {
    // One run at a time in this logon session; the handle is kept until exit.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Local\\VeskCfg");
    if (!mutex) return;
    DWORD waited = WaitForSingleObject(mutex, 1000);
    if (waited == WAIT_TIMEOUT) {
        std::fprintf(stderr, "VeskCfg: another run of VeskCfg is in progress on this console; waiting for it.\n");
        waited = WaitForSingleObject(mutex, INFINITE);
    }
    // WAIT_ABANDONED: a run that ended without letting go; the mutex is ours now.
}

void HoldInterrupts() {
    static bool installed = false;
    if (!installed) installed = SetConsoleCtrlHandler(holdEvent, TRUE) != 0;
}

void ReportHeldInterrupt() {
    static const char* const kNames[] = {"Ctrl+C", "Ctrl+Break", "the console being closed"};
    LONG event = heldEvent;
    if (event < 0) return;
    const char* name = event == CTRL_C_EVENT ? kNames[0] : event == CTRL_BREAK_EVENT ? kNames[1] : kNames[2];
    std::fprintf(stderr, "VeskCfg: %s came during a change and was held until the change was whole.\n", name);
}

// Windows writes no core file, and only the same user can read the process.
void KeepSecretsFromOthers() {}

bool StandardOutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }
