// rd PRIMARY DISTRIBUTED: delete DISTRIBUTED's record, then remove it from
// PRIMARY's list; when that fails, write the record back as it was read.
#include <cstdio>

#include "cli/report_error.h"
#include "operations/common.h"
#include "operations/operations.h"
#include "store/record_store.h"
#include "store/server_list.h"

namespace {

int unlinkFromPrimary(const char* primary, const char* distributed) {
    char primaryCopy[260];
    copyName(primaryCopy, primary);
    if (int code = changeListEntry(primaryCopy, distributed, 0)) {
        reportError(kTransactionFailedContext, code);
        return code;
    }
    return 0;
}

}  // namespace

int removeDistributed(const char* primary, const char* distributed) {
    char primaryCopy[260];
    copyName(primaryCopy, primary);

    OpenConnections connections;
    if (int code = connectTo(connections, distributed)) return code;
    if (int code = connectTo(connections, primary)) return code;

    ServerRoleRecord record = {};
    DWORD size = ROLE_RECORD_SIZE;
    if (int code = readRecord(distributed, ROLE_RECORD_TYPE, &record, &size)) {
        std::printf("%s is not attached\n", distributed);
        return code;
    }
    StoredName itsPrimary = storedPrimaryName(record);
    if (!sameServerName(itsPrimary.text, primary)) {
        std::printf("%s is not attached to %s\n", distributed, primary);
        return RESULT_REFUSED;
    }

    DWORD keptSize = size;
    size = 0;
    if (int code = deleteRecord(distributed, ROLE_RECORD_TYPE, &size)) {
        reportError(kTransactionFailedContext, code);
        return code;
    }

    int unlinkCode = unlinkFromPrimary(primaryCopy, distributed);
    if (unlinkCode == 0) return 0;

    reportError(kTransactionFailedContext, unlinkCode);
    std::printf("Check %s: could not find %s in list of attached servers\n", primaryCopy, distributed);
    std::printf(" Use frs command if you still want to remove\n");
    size = keptSize;
    if (int code = writeRecord(distributed, ROLE_RECORD_TYPE, &record, &size)) {
        reportError(kTransactionFailedContext, code);
        std::printf("Inconsistancy: %s was removed but could be still in list of %s\n", distributed, primaryCopy);
    }
    return unlinkCode;
}
