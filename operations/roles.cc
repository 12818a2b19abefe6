#include "operations/roles.h"

#include <cstdio>
#include <cstring>

#include "credentials/scramble.h"
#include "credentials/wipe.h"
#include "operations/report_error.h"
#include "operations/shown_names.h"
#include "platform/result_codes.h"
#include "platform/win32.h"
#include "store/record_store.h"

bool sameServerName(const char* left, const char* right) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(left), reinterpret_cast<const unsigned char*>(right)) == 0;
}

StoredName storedPrimaryName(const ServerRoleRecord& record) {
    StoredName name = {};
    std::memcpy(name.text, record.primaryName, sizeof record.primaryName);
    return name;
}

bool printRoleOf(const char* server, const ServerRoleRecord& record) {
    StoredName itsPrimary = storedPrimaryName(record);
    bool primary = sameServerName(server, itsPrimary.text);
    if (primary) std::printf("%s is a primary.\n", server);
    else std::printf("%s is attached to %s.\n", server, shown(itsPrimary.text).text);
    return primary;
}

namespace {

// True, after saying why, when server already has a role.
bool refuseExistingRole(const char* server) {
    ServerRoleRecord existing;
    // Any failed read means no record: the write that follows decides.
    if (readRoleRecord(server, existing) != 0) return false;
    StoredName itsPrimary = storedPrimaryName(existing);
    if (sameServerName(server, itsPrimary.text)) std::printf("%s is already a primary.\n", server);
    else std::printf("%s is already attached to %s.\n", server, shown(itsPrimary.text).text);
    return true;
}

}  // namespace

int createRoleRecord(const char* server, const char* primary, const char* userName, const char* password) {
    if (refuseExistingRole(server)) return RESULT_REFUSED;
    ServerRoleRecord record = {};
    std::strncpy(record.primaryName, primary, sizeof record.primaryName - 1);
    record.isDistributed = sameServerName(server, primary) ? 0 : 1;
    scrambleText(record.userName, userName);
    scrambleText(record.password, password);
    DWORD size = ROLE_RECORD_SIZE;
    int code = writeRecord(server, ROLE_RECORD_TYPE, &record, &size);
    wipeSecret(&record, sizeof record);
    if (code) reportError(kTransactionFailedContext, code);
    return code;
}

bool fitsPrimaryName(const char* server) {
    size_t length = std::strlen(server);
    if (length < PRIMARY_NAME_SIZE) return true;
    std::printf("%s can not be stored as a primary's name: a name can hold at most %d characters.\n", server,
                PRIMARY_NAME_SIZE - 1);
    return false;
}
