// lp SERVER and ld SERVER: a server's role, and the servers attached to it.
#include <cstdio>

#include "operations/common.h"
#include "operations/operations.h"
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
    StoredName itsPrimary = storedPrimaryName(record);
    if (sameServerName(itsPrimary.text, server)) std::printf("%s is a primary.\n", server);
    else std::printf("%s is attached to %s.\n", server, shown(itsPrimary.text).text);
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

    HKEY rootKey = nullptr;
    HKEY listKey = nullptr;
    if (LONG code = openListForReading(&rootKey, &listKey, server)) {
        connections.cancelAll();
        std::printf("             No attached servers\n");
        return code;
    }
    ListWalk walk = printAttachedServers(listKey);
    closeList(rootKey, listKey);
    if (walk.linesPrinted == 0) std::printf("             No attached servers\n");
    // A walk cut short by failures has not shown the whole list.
    return walk.endCode == ERROR_NO_MORE_ITEMS ? 0 : walk.endCode;
}
