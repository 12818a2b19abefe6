// vesknet's commands that read a network and print what they find (show,
// check, graph), and what its other commands print with them.
#pragma once

#include <string>

#include "tools/vesknet/network_view.h"

namespace vesknet {

// What a run starts from: where the network is, and how its primaries are
// read when they are real servers.
struct Settings {
    std::string world;    // Linux only
    std::string console;  // the computer VeskCfg runs on
    RemoteReading reading;
};

constexpr int kFailed = 2;  // the network cannot be read, or the command line is wrong

// One line "vesknet: why" on standard error; kFailed.
int fail(const std::string& why);

// A name as text output shows it: control characters, which a name read
// from a hand-edited file or a server may hold, and backslashes written \xHH
// and \\, so that nothing reaches the terminal raw and every name reads one
// way. Still in the code page: the line it goes in is converted whole. A
// path (ansi false) is in the locale's character set already; a mend, whose
// names are quoted for a shell, keeps its backslashes single.
std::string printable(const std::string& name, bool ansi = true, bool doubleBackslashes = true);

int show(const Settings& settings, bool json);
int check(const Settings& settings);
int graph(const Settings& settings, const std::string& format, const std::string& output);

}  // namespace vesknet
