// cc SERVER: show the stored credentials, ask for new ones, test them with a
// connection of its own and store them.
#include <cstdio>
#include <cstring>

#include "credentials/prompt.h"
#include "credentials/remote_connection.h"
#include "credentials/scramble.h"
#include "credentials/stored_record.h"
#include "credentials/wipe.h"
#include "operations/connections.h"
#include "operations/operations.h"
#include "operations/report_error.h"
#include "operations/roles.h"
#include "operations/shown_names.h"
#include "platform/result_codes.h"
#include "store/record_store.h"

int changeCredentials(const char* server) {
    ServerRoleRecord record = {};
    DWORD size = ROLE_RECORD_SIZE;
    if (LONG code = StoredRecordLookup(server, ROLE_RECORD_TYPE, &record, &size)) {
        std::printf("\n%s is not a Primary or Distributed server\n", server);
        reportError(kTransactionFailedContext, code);
        return code;
    }

    SecretBuffer<MAX_PATH> userName;
    SecretBuffer<MAX_PATH> password;
    unscrambleText(record.userName, userName.text);
    unscrambleText(record.password, password.text);
    char masked[CREDENTIAL_FIELD_SIZE + 1] = {};
    std::memset(masked, '*', std::strlen(password.text));
    std::printf("\n%s : Username = %s", server, shown(userName.text).text);
    std::printf("\n%s : Password = %s", server, masked);
    std::printf("\n Enter the new credentials for %s\n", server);

    if (CredentialPrompt(userName.text, password.text, server) != 0) return RESULT_CANCELLED;

    // MAX_PATH bytes, like every other remote name, so that long names fit.
    char remoteName[MAX_PATH] = {};
    int length = std::snprintf(remoteName, sizeof remoteName, "\\\\%s\\%s", server, "ipc$");
    DWORD code = length < static_cast<int>(sizeof remoteName)
                     ? openIpcConnection(remoteName, password.text, userName.text)
                     : static_cast<DWORD>(ERROR_INVALID_NAME);
    if (code != NO_ERROR) {
        reportError(kTransactionFailedContext, code);
        return static_cast<int>(code);
    }
    OpenConnections connections;
    connections.opened(server);

    scrambleText(record.userName, userName.text);
    scrambleText(record.password, password.text);
    StoredName itsPrimary = storedPrimaryName(record);
    record.isDistributed = sameServerName(itsPrimary.text, server) ? 0 : 1;

    size = ROLE_RECORD_SIZE;
    if (int writeCode = writeRecord(server, ROLE_RECORD_TYPE, &record, &size)) {
        std::printf(" Could not write the new credentials for %s", server);
        reportError(kTransactionFailedContext, writeCode);
        return writeCode;
    }
    commitStore(0, 0);
    return 0;
}
