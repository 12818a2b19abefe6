// The process around one run: its exit status, the one run at a time that a
// console allows, the interrupts held while the world changes, and the
// clear-text credentials it holds.
#pragma once

int ExitStatusFromResult(long result);

// Waits until no other run holds this console (computer), then holds it for
// the rest of the run. Nothing goes to standard output while waiting; after
// a second, one line on standard error says which run is in the way.
void HoldThisConsole(const char* commandLine);

// From the first change a command makes to the world until the run ends,
// Ctrl+C and its kind are held: the command finishes and ends with its own
// result. A credential prompt still takes them (it is no change).
void HoldInterrupts();
// At the end of the run: says on standard error whether an interrupt was
// held.
void ReportHeldInterrupt();

// From here on the process holds clear-text credentials: nothing of its
// memory may be dumped, nor read by another user's debugger.
void KeepSecretsFromOthers();

// Standard output is a terminal (a console), not a pipe or a file.
bool StandardOutputIsTerminal();
