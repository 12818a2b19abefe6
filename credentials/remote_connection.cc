#include "credentials/remote_connection.h"

#include <cstdio>
#include <cstring>

#include "credentials/prompt.h"
#include "credentials/scramble.h"
#include "credentials/stored_record.h"
#include "credentials/wipe.h"
#include "platform/process.h"
#include "platform/result_codes.h"
#include "platform/win32.h"
#include "store/role_record.h"

namespace {

DWORD addConnection(char* remoteName, const char* password, const char* userName) {
    NETRESOURCEA resource = {};
    resource.dwScope = RESOURCE_GLOBALNET;
    resource.dwType = RESOURCETYPE_ANY;
    resource.dwDisplayType = RESOURCEDISPLAYTYPE_GENERIC;
    resource.dwUsage = RESOURCEUSAGE_CONNECTABLE;
    resource.lpRemoteName = remoteName;
    return WNetAddConnection2A(&resource, password, userName, 0);
}

void copyOut(char* out, const char* clear) {
    if (!out) return;
    size_t length = strnlen(clear, CREDENTIAL_FIELD_SIZE);
    std::memcpy(out, clear, length);
    out[length] = '\0';
}

}  // namespace

DWORD openIpcConnection(char* remoteName, const char* password, const char* userName) {
    // The first change a command makes to the world: from here the command
    // runs to its end whatever interrupts it.
    HoldInterrupts();
    DWORD code = addConnection(remoteName, password, userName);
    if (code == ERROR_SESSION_CREDENTIAL_CONFLICT) {
        // This computer holds a connection to the server under another account:
        // drop it, by force, and try once more.
        WNetCancelConnection2A(remoteName, 0, TRUE);
        code = addConnection(remoteName, password, userName);
    }
    return code;
}

int RemoteConnection(const char* serverName, const char* shareName, char* userNameOut, char* passwordOut) {
    char remoteName[MAX_PATH] = {};
    int length = std::snprintf(remoteName, sizeof remoteName, "\\\\%s\\%s", serverName, shareName);
    if (length < 0 || length >= static_cast<int>(sizeof remoteName)) return ERROR_INVALID_NAME;

    SecretBuffer<MAX_PATH> userName;
    SecretBuffer<MAX_PATH> password;
    ServerRoleRecord record = {};
    DWORD size = ROLE_RECORD_SIZE;
    if (StoredRecordLookup(serverName, ROLE_RECORD_TYPE, &record, &size) == 0) {
        unscrambleText(record.userName, userName.text);
        unscrambleText(record.password, password.text);
        wipeSecret(&record, sizeof record);
    } else if (CredentialPrompt(userName.text, password.text, serverName) != 0) {
        return RESULT_CANCELLED;
    }

    if (DWORD code = openIpcConnection(remoteName, password.text, userName.text)) return static_cast<int>(code);
    copyOut(userNameOut, userName.text);
    copyOut(passwordOut, password.text);
    return 0;
}
