// mp SERVER: store a record that names SERVER its own primary, with the
// credentials that reached it.
#include <cstdio>
#include <cstring>

#include "cli/report_error.h"
#include "credentials/scramble.h"
#include "credentials/wipe.h"
#include "operations/common.h"
#include "operations/operations.h"
#include "store/record_store.h"

int makePrimary(const char* server) {
    if (!fitsPrimaryName(server)) return ERROR_INVALID_NAME;
    ServerRoleRecord newRecord = {};
    std::strcpy(newRecord.primaryName, server);
    newRecord.isDistributed = 0;

    OpenConnections connections;
    SecretBuffer<64> usedUserName;
    SecretBuffer<64> usedPassword;
    if (int code = connectTo(connections, server, usedUserName.text, usedPassword.text)) return code;
    scrambleText(newRecord.userName, usedUserName.text);
    scrambleText(newRecord.password, usedPassword.text);

    ServerRoleRecord existing = {};
    DWORD size = ROLE_RECORD_SIZE;
    if (readRecord(server, ROLE_RECORD_TYPE, &existing, &size) == 0) {
        StoredName primary = storedPrimaryName(existing);
        if (sameServerName(server, primary.text)) std::printf("%s is already a primary.\n", server);
        else std::printf("%s is already attached to %s.\n", server, primary.text);
        return RESULT_REFUSED;
    }

    // Any failed read means no record: the write decides.
    size = ROLE_RECORD_SIZE;
    if (int code = writeRecord(server, ROLE_RECORD_TYPE, &newRecord, &size)) {
        reportError(kTransactionFailedContext, code);
        return code;
    }
    return 0;
}
