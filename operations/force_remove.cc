// frd SERVER: delete SERVER's record, whatever it holds, and nothing else.
#include <cstdio>

#include "operations/connections.h"
#include "operations/operations.h"
#include "operations/report_error.h"
#include "store/record_store.h"

int forceRemove(const char* server) {
    OpenConnections connections;
    if (int code = connectTo(connections, server)) return code;

    ServerRoleRecord record;
    if (int code = readRoleRecord(server, record)) {
        std::printf("%s is not attached\n", server);
        return code;
    }
    DWORD size = 0;
    if (int code = deleteRecord(server, ROLE_RECORD_TYPE, &size)) {
        reportError(kTransactionFailedContext, code);
        return code;
    }
    return 0;
}
