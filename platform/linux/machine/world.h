// The world: a directory with one folder per computer, the local one (always)
// and, on the world network, the others.
//   <world>/<NAME>/hklm.reg     that computer's HKEY_LOCAL_MACHINE (REGEDIT4)
//   <world>/<NAME>/accounts     user:password lines that may open its ipc$
//   <world>/<NAME>/connections  the local computer's open connections
//   <world>/<NAME>/offline      present: the computer cannot be reached
//   <world>/<NAME>/faults       "<call> <code> [<n>]" lines: calls that must fail
//   <world>/<NAME>/lock         taken while one of its files is changed
//   <world>/<NAME>/console.lock held by the run on that console
#pragma once

#include <string>

#include "platform/win32.h"

namespace sim {

std::string worldRoot();
// A computer's name is a folder's name in the world: it must not lead out of
// it, and holds no control character, as no Windows computer name does.
bool isComputerName(const std::string& name);
// VESKCFG_COMPUTERNAME, or the host's name; empty when the configured name
// cannot be a computer's.
std::string localComputerName();
// 0, or why this computer has no folder in the world and gets none:
// ERROR_INVALID_NAME for a bad VESKCFG_COMPUTERNAME, ERROR_PATH_NOT_FOUND for
// a VESKCFG_WORLD that names no folder. Said once on standard error.
LONG localComputerProblem();

// The folder of computer NAME, found without regard to case; empty when the
// world has no such computer.
std::string findComputerFolder(const std::string& name);
// The local computer's folder, created (with the world) when missing; empty
// when it cannot be created.
std::string localComputerFolder(bool create);

bool isOffline(const std::string& folder);

}  // namespace sim
