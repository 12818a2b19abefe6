// rd PRIMARY DISTRIBUTED: delete DISTRIBUTED's record, then remove it from
// PRIMARY's list; when that fails, write the record back as it was read.
#include <cstdio>

#include "operations/connections.h"
#include "operations/operations.h"
#include "operations/report_error.h"
#include "operations/roles.h"
#include "operations/shown_names.h"
#include "platform/result_codes.h"
#include "store/record_store.h"
#include "store/server_list.h"

namespace {

int unlinkFromPrimary(const char* primary, const char* distributed) {
    char primaryCopy[MAX_PATH];
    copyName(primaryCopy, primary);
    if (int code = changeListEntry(primaryCopy, distributed, LIST_REMOVE)) {
        // Reported here and once more by the caller: the doubled ERROR! line is
        // kept as administrators' scripts know it.
        reportError(kTransactionFailedContext, code);
        return code;
    }
    return 0;
}

}  // namespace

int removeDistributed(const char* primary, const char* distributed) {
    char primaryCopy[MAX_PATH];
    copyName(primaryCopy, primary);

    OpenConnections connections;
    if (int code = connectTo(connections, distributed)) return code;
    if (int code = connectTo(connections, primary)) return code;

    ServerRoleRecord record;
    DWORD keptSize = 0;
    if (int code = readRoleRecord(distributed, record, &keptSize)) {
        std::printf("%s is not attached\n", distributed);
        return code;
    }
    StoredName itsPrimary = storedPrimaryName(record);
    if (!sameServerName(itsPrimary.text, primary)) {
        std::printf("%s is not attached to %s\n", distributed, primary);
        return RESULT_REFUSED;
    }

    DWORD size = 0;
    if (int code = deleteRecord(distributed, ROLE_RECORD_TYPE, &size)) {
        reportError(kTransactionFailedContext, code);
        return code;
    }

    int unlinkCode = unlinkFromPrimary(primaryCopy, distributed);
    if (unlinkCode == 0) return 0;

    reportError(kTransactionFailedContext, unlinkCode);
    std::printf("Check %s: could not find %s in list of attached servers\n", primaryCopy, distributed);
    // "frs" for frd, kept as administrators' scripts know it.
    std::printf(" Use frs command if you still want to remove\n");
    size = keptSize;
    if (int code = writeRecord(distributed, ROLE_RECORD_TYPE, &record, &size)) {
        reportError(kTransactionFailedContext, code);
        // The spelling is kept as administrators' scripts know it.
        std::printf("Inconsistancy: %s was removed but could be still in list of %s\n", distributed, primaryCopy);
    }
    return unlinkCode;
}
