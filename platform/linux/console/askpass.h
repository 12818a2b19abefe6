// A program that answers the credential prompt for scripts, as SSH_ASKPASS
// does for ssh: VESKCFG_ASKPASS names it; it is asked when there is no
// terminal, or always with VESKCFG_ASKPASS_REQUIRE=force.
#pragma once

#include <string>

namespace sim {

// True when the next field is to be asked of the program rather than read
// from the terminal.
bool askpassAnswers(bool haveTerminal);

// Runs the program once with promptText as its only argument and gives the
// keys its answer stands for: the first line of its standard output and
// Enter; Esc alone when it fails, cannot be run, prints nothing or the
// prompt is interrupted while it runs.
std::string askpassKeys(const char* promptText);

}  // namespace sim
