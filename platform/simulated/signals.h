// How the signals that end a run are taken. At a credential prompt the first
// SIGINT, SIGTERM, SIGHUP or SIGQUIT ends the prompt as Esc does (so that the
// command cancels what it opened); a second one ends the run at once. During
// a change they are held until the change is whole. Ctrl-Z at a prompt gives
// the terminal back while the run is stopped.
#pragma once

#include <termios.h>

namespace sim {

// The prompt reads keys from the terminal ttyFd, which is in mode raw and goes
// back to mode cooked whenever the run stops or ends.
void promptSignalsOn(int ttyFd, const termios& cooked, const termios& raw);
// The prompt is over: the signals are taken as before it.
void promptSignalsOff();
// A signal has ended the prompt.
bool promptInterrupted();

}  // namespace sim
