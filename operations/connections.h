// The ipc$ connections an operation opens: each is cancelled, by force, in
// the order it was opened, on every path out of the operation.
#pragma once

#include "platform/win32.h"

// The ipc$ connections one operation opened. Windows keeps a connection for
// the whole logon session, so every one is cancelled, by force, in the order it
// was opened, on every path out; destructors alone would run in reverse.
class OpenConnections {
public:
    OpenConnections() = default;
    OpenConnections(const OpenConnections&) = delete;
    OpenConnections& operator=(const OpenConnections&) = delete;
    ~OpenConnections();  // cancels each, by force, in the order opened

    void opened(const char* server);

private:
    char remoteNames_[2][MAX_PATH] = {};
    int count_ = 0;
};

// Opens the ipc$ connection to server and records it. On failure it reports
// the code (not for a left prompt) and returns it.
int connectTo(OpenConnections& connections, const char* server, char* userNameOut = nullptr,
              char* passwordOut = nullptr);
