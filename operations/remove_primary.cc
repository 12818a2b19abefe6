// rp SERVER: delete a primary's record, unless it is attached elsewhere or
// still lists distributed servers.
#include <cstdio>

#include "operations/connections.h"
#include "operations/listing.h"
#include "operations/operations.h"
#include "operations/report_error.h"
#include "operations/roles.h"
#include "operations/shown_names.h"
#include "platform/result_codes.h"
#include "store/record_store.h"
#include "store/server_list.h"

namespace {

// RESULT_REFUSED after saying why, or 0 when the record may go.
int checkRemovable(const char* server, const ServerRoleRecord& record) {
    if (!printRoleOf(server, record)) return RESULT_REFUSED;
    std::optional<ListWalk> walk = printListOf(server, "             No Attached Distributed Servers\n");
    if (!walk || walk->linesPrinted == 0) return 0;
    std::printf("%s has distributed servers and can not be removed.\n", server);
    return RESULT_REFUSED;
}

}  // namespace

int removePrimary(const char* server) {
    char serverCopy[MAX_PATH];
    copyName(serverCopy, server);

    OpenConnections connections;
    if (int code = connectTo(connections, server)) return code;

    ServerRoleRecord record;
    // Without a readable record there is nothing to check: the delete decides.
    if (readRoleRecord(serverCopy, record) == 0) {
        if (int code = checkRemovable(server, record)) return code;
    }

    DWORD size = 0;
    if (int code = deleteRecord(serverCopy, ROLE_RECORD_TYPE, &size)) {
        reportError(kTransactionFailedContext, code);
        return code;
    }
    return 0;
}
