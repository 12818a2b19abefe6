// mp SERVER: store a record that names SERVER its own primary, with the
// credentials that reached it.
#include "credentials/wipe.h"
#include "operations/connections.h"
#include "operations/operations.h"
#include "operations/roles.h"
#include "platform/result_codes.h"

int makePrimary(const char* server) {
    if (!fitsPrimaryName(server)) return ERROR_INVALID_NAME;
    OpenConnections connections;
    SecretBuffer<64> usedUserName;
    SecretBuffer<64> usedPassword;
    if (int code = connectTo(connections, server, usedUserName.text, usedPassword.text)) return code;
    return createRoleRecord(server, server, usedUserName.text, usedPassword.text);
}
