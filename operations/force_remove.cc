// frd SERVER: delete SERVER's record, whatever it holds, and nothing else.
#include <cstdio>

#include "cli/report_error.h"
#include "operations/common.h"
#include "operations/operations.h"
#include "store/record_store.h"

int forceRemove(const char* server) {
    OpenConnections connections;
    if (int code = connectTo(connections, server)) return code;

    ServerRoleRecord record = {};
    DWORD size = ROLE_RECORD_SIZE;
    if (int code = readRecord(server, ROLE_RECORD_TYPE, &record, &size)) {
        std::printf("%s is not attached\n", server);
        return code;
    }
    size = 0;
    if (int code = deleteRecord(server, ROLE_RECORD_TYPE, &size)) {
        reportError(kTransactionFailedContext, code);
        return code;
    }
    return 0;
}
