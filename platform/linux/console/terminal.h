// The Linux console's terminal between prompts.
#pragma once

namespace sim {

// From here until the run ends, keys typed on the terminal wait in its input
// unechoed and untranslated, as they wait in a Windows console's input
// buffer, so that a prompt reads them as they were typed, a password
// included, however early they came. The terminal gets its mode back on
// every way out of the run. Nothing when there is no terminal, or when the
// run is in the background (changing the mode would stop it).
void holdTypedKeys();

}  // namespace sim
