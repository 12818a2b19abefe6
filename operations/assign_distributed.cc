// md PRIMARY DISTRIBUTED: write DISTRIBUTED's record naming PRIMARY, then add
// DISTRIBUTED to PRIMARY's list; when that fails, delete the record again.
#include <cstdio>

#include "credentials/wipe.h"
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

// Checks that primary names itself, shows its present servers and adds
// distributed to its list.
int linkToPrimary(const char* primary, const char* distributed) {
    char primaryCopy[MAX_PATH];
    copyName(primaryCopy, primary);
    ServerRoleRecord record;
    if (int code = readRoleRecord(primaryCopy, record)) {
        std::printf("%s is not primary or distributed.\n", primary);
        return code;
    }
    if (!printRoleOf(primary, record)) return RESULT_REFUSED;
    printListOf(primary, "             No attached servers\n");

    if (int code = changeListEntry(primaryCopy, distributed, LIST_ADD)) {
        // Reported here and once more by the caller: the doubled ERROR! line is
        // kept as administrators' scripts know it.
        reportError(kTransactionFailedContext, code);
        return code;
    }
    return 0;
}

}  // namespace

int assignDistributed(const char* primary, const char* distributed) {
    if (!fitsPrimaryName(primary)) return ERROR_INVALID_NAME;
    char primaryCopy[MAX_PATH];
    copyName(primaryCopy, primary);

    OpenConnections connections;
    SecretBuffer<64> usedUserName;
    SecretBuffer<64> usedPassword;
    if (int code = connectTo(connections, distributed, usedUserName.text, usedPassword.text)) return code;
    if (int code = connectTo(connections, primary)) return code;
    if (int code = createRoleRecord(distributed, primary, usedUserName.text, usedPassword.text)) return code;

    if (int code = linkToPrimary(primaryCopy, distributed)) {
        reportError(kTransactionFailedContext, code);
        // Undo the write; if even that fails there is nothing better to do.
        DWORD size = 0;
        deleteRecord(distributed, ROLE_RECORD_TYPE, &size);
        return code;
    }
    return 0;
}
