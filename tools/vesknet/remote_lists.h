// How the lists of real servers are read (remote_lists.cc), and what it asks
// of each platform's readers.cc: a process a primary, each with a deadline.
#pragma once

#include <string>
#include <vector>

#include "tools/vesknet/network_view.h"

namespace vesknet {

// What a reader's process left: its answer as it came on the pipe, and how
// the process ended when that was not of itself with status 0 ("its reader
// ended with signal 9"); timedOut when it was given up at its deadline.
struct Answer {
    std::string text;
    std::string howEnded;
    bool timedOut = false;
};

// One process a primary, up to the reading's jobs at once, each given up
// after its seconds; servers[i]'s answer in the result's [i] (readers.cc).
std::vector<Answer> readInProcesses(const NetworkView& view, const std::vector<std::string>& servers,
                                    const RemoteReading& reading);

// In a reader's process: what it answers for server, the text its pipe
// carries. alreadyConnected: the console's own connection, left open.
std::string readerAnswer(const std::string& server, bool alreadyConnected);

// True when the console had a connection to server's ipc$ before vesknet.
bool connectedTo(const NetworkView& view, const std::string& server);

// A reader's connection, which it could not cancel: one it ended without
// cancelling would outlive it, as on Windows.
void cancelLeftBehind(const NetworkView& view, const std::string& server);

// The console's own list, from its own registry.
void readListHere(Computer& computer);

// hexOf's bytes again.
std::string bytesOf(const std::string& hex);

}  // namespace vesknet
