// How the signals that end a run are taken, so that the terminal is always
// given back in the mode the run found it in. From the start of a run until
// its end, SIGINT, SIGTERM, SIGHUP and SIGQUIT end it with the terminal given
// back. At a credential prompt the first of them ends the prompt as Esc does
// (so that the command cancels what it opened); a second one ends the run at
// once. During a change SIGINT, SIGTERM and SIGHUP are held until the change
// is whole. Ctrl-Z gives the terminal back while the run is stopped.
#pragma once

#include <termios.h>

namespace sim {

// The run keeps the terminal ttyFd in mode `held` until it ends; `original`
// is the mode it found, given back whenever the run stops or ends.
void runSignalsOn(int ttyFd, const termios& original, const termios& held);
// The prompt reads keys with the terminal in mode raw; or (null) a program
// answers it, the terminal, if any, left as it is.
void promptSignalsOn(const termios* raw);
// The prompt is over: the signals are taken as before it, the terminal is
// back in the held mode.
void promptSignalsOff();
// A signal has ended the prompt.
bool promptInterrupted();

}  // namespace sim
