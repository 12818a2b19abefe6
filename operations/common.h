// What the operations share: their connections, the role rule and the walk
// of a primary's list.
#pragma once

#include "platform/result_codes.h"
#include "platform/win32.h"
#include "store/role_record.h"

// The ipc$ connections one operation opened. Windows keeps a connection for
// the whole logon session, so every one is cancelled, by force, in the order it
// was opened, on every path out; destructors alone would run in reverse.
class OpenConnections {
public:
    OpenConnections() = default;
    OpenConnections(const OpenConnections&) = delete;
    OpenConnections& operator=(const OpenConnections&) = delete;
    ~OpenConnections() { cancelAll(); }

    void opened(const char* server);
    void cancelAll();

private:
    char remoteNames_[2][MAX_PATH] = {};
    int count_ = 0;
};

// Opens the ipc$ connection to server and records it. On failure it reports
// the code (not for a left prompt) and returns it.
int connectTo(OpenConnections& connections, const char* server, char* userNameOut = nullptr,
              char* passwordOut = nullptr);

// Exact, case-sensitive comparison under the code page.
bool sameServerName(const char* left, const char* right);

// A record's primaryName as a string; a field of 24 characters is taken whole.
struct StoredName {
    char text[PRIMARY_NAME_SIZE + 1];
};
StoredName storedPrimaryName(const ServerRoleRecord& record);

// Writes server's first role record: naming primary (itself for a primary),
// with the credentials that reached it, scrambled. RESULT_REFUSED, after
// saying why, when server already has a role; a failed write is reported.
int createRoleRecord(const char* server, const char* primary, const char* userName, const char* password);

// False, after saying so, when the name does not fit a record's primaryName.
bool fitsPrimaryName(const char* server);

// Walks an open list from index 0, printing an attached-server line per entry.
// A step that fails with another code than 259 is shown like an entry (its
// name buffer empty) and ends the walk: what follows a failure is not known
// to be the list, and a key or a server that fails at every step would
// keep it going for ever.
struct ListWalk {
    long linesPrinted;
    LONG endCode;  // ERROR_NO_MORE_ITEMS, or the code of the failure that ended it
};
ListWalk printAttachedServers(HKEY listKey);

// A name that came from a registry, a store or a server, as standard output
// may show it: on a terminal the bytes that would reach it as control
// characters (C0, DEL, and C1 where the terminal has them) are shown as '?',
// as ls shows them, so that whoever may write a name cannot move the cursor
// or reprogram the administrator's terminal; a pipe or a file gets the
// bytes as they are, for the scripts that read them.
struct ShownName {
    char text[MAX_PATH];
};
ShownName shown(const char* name);
void makeShowable(char* bytes, size_t length);

// Copies a name into a zero-filled MAX_PATH-byte buffer.
void copyName(char (&buffer)[MAX_PATH], const char* name);
