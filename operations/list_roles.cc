// lp SERVER and ld SERVER: a server's role, and the servers attached to it.
#include <cstdio>

#include "operations/connections.h"
#include "operations/listing.h"
#include "operations/operations.h"
#include "operations/roles.h"
#include "operations/shown_names.h"
#include "platform/result_codes.h"
#include "store/record_store.h"
#include "store/server_list.h"

namespace {

// Prints the role line; the read's code when there is no readable record.
int printRole(const char* server) {
    char serverCopy[MAX_PATH];
    copyName(serverCopy, server);
    ServerRoleRecord record;
    if (int code = readRoleRecord(serverCopy, record)) {
        std::printf("%s is not a secondary or primary.\n", server);
        return code;
    }
    printRoleOf(server, record);
    return 0;
}

}  // namespace

int listPrimary(const char* server) {
    OpenConnections connections;
    if (int code = connectTo(connections, server)) return code;
    return printRole(server);
}

int listDistributed(const char* server) {
    OpenConnections connections;
    if (int code = connectTo(connections, server)) return code;
    printRole(server);  // without a record the listing goes on

    LONG openCode = 0;
    std::optional<ListWalk> walk = printListOf(server, "             No attached servers\n", &openCode);
    if (!walk) return openCode;
    if (walk->linesPrinted == 0) std::printf("             No attached servers\n");
    // A walk cut short by failures has not shown the whole list.
    return walk->endCode == ERROR_NO_MORE_ITEMS ? 0 : walk->endCode;
}
