#include "operations/connections.h"

#include <cstdio>

#include "credentials/remote_connection.h"
#include "operations/report_error.h"
#include "platform/result_codes.h"

void OpenConnections::opened(const char* server) {
    if (count_ >= 2) return;
    std::snprintf(remoteNames_[count_], sizeof remoteNames_[count_], "\\\\%s\\ipc$", server);
    ++count_;
}

OpenConnections::~OpenConnections() {
    for (int i = 0; i < count_; ++i) WNetCancelConnection2A(remoteNames_[i], 0, TRUE);
}

int connectTo(OpenConnections& connections, const char* server, char* userNameOut, char* passwordOut) {
    int code = RemoteConnection(server, "ipc$", userNameOut, passwordOut);
    if (code == 0) {
        connections.opened(server);
    } else if (code != RESULT_CANCELLED) {
        reportError(kConnectFailedContext, code);
    }
    return code;
}
