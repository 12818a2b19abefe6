#include "operations/common.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "credentials/remote_connection.h"
#include "credentials/scramble.h"
#include "credentials/wipe.h"
#include "operations/report_error.h"
#include "platform/console.h"
#include "platform/process.h"
#include "store/record_store.h"
#include "store/server_list.h"

void OpenConnections::opened(const char* server) {
    if (count_ >= 2) return;
    std::snprintf(remoteNames_[count_], sizeof remoteNames_[count_], "\\\\%s\\ipc$", server);
    ++count_;
}

void OpenConnections::cancelAll() {
    for (int i = 0; i < count_; ++i) WNetCancelConnection2A(remoteNames_[i], 0, TRUE);
    count_ = 0;
}

int connectTo(OpenConnections& connections, const char* server, char* userNameOut, char* passwordOut) {
    int code = RemoteConnection(server, "ipc$", userNameOut, passwordOut);
    if (code == 0) {
        connections.opened(server);
    } else if (code != RESULT_CANCELLED) {
        reportError(kConnectFailedContext, code);
    }
    return code;
}

bool sameServerName(const char* left, const char* right) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(left), reinterpret_cast<const unsigned char*>(right)) == 0;
}

StoredName storedPrimaryName(const ServerRoleRecord& record) {
    StoredName name = {};
    std::memcpy(name.text, record.primaryName, sizeof record.primaryName);
    return name;
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

ListWalk printAttachedServers(HKEY listKey) {
    // "      attached server: %s\n" a name, put together here and written in
    // batches: lists run to hundreds of thousands of names.
    static const char kPrefix[] = "      attached server: ";
    constexpr size_t kBatch = 65536;
    std::string batch;
    batch.reserve(kBatch + sizeof kPrefix + MAX_PATH);
    ListWalk walk = {0, ERROR_NO_MORE_ITEMS};
    char entryName[MAX_PATH] = {};
    for (DWORD index = 0; walk.endCode == ERROR_NO_MORE_ITEMS; ++index) {
        entryName[0] = '\0';  // a failed step prints an empty name
        DWORD nameLength = 0;
        LONG code = readListEntry(listKey, index, entryName, &nameLength);
        if (code == ERROR_NO_MORE_ITEMS) break;
        if (code != ERROR_SUCCESS) walk.endCode = code;
        if (code != ERROR_SUCCESS || nameLength >= MAX_PATH) nameLength = static_cast<DWORD>(strnlen(entryName, MAX_PATH - 1));
        makeShowable(entryName, nameLength);
        batch.append(kPrefix, sizeof kPrefix - 1).append(entryName, nameLength).append(1, '\n');
        if (batch.size() >= kBatch) {
            std::fwrite(batch.data(), 1, batch.size(), stdout);
            batch.clear();
        }
        ++walk.linesPrinted;
    }
    std::fwrite(batch.data(), 1, batch.size(), stdout);
    return walk;
}

void makeShowable(char* bytes, size_t length) {
    if (!StandardOutputIsTerminal()) return;
    for (size_t at = 0; at < length; ++at)
        if (ConsoleShowsAsControl(static_cast<unsigned char>(bytes[at]))) bytes[at] = '?';
}

ShownName shown(const char* name) {
    ShownName out = {};
    std::strncpy(out.text, name, sizeof out.text - 1);
    makeShowable(out.text, std::strlen(out.text));
    return out;
}

void copyName(char (&buffer)[MAX_PATH], const char* name) {
    std::memset(buffer, 0, sizeof buffer);
    std::strncpy(buffer, name, sizeof buffer - 1);
}
