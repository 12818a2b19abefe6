// A server's role, told from its record's primaryName alone: a primary names
// itself, a distributed server its primary. The record an operation writes
// for a server, and the lines that show a role.
#pragma once

#include "store/role_record.h"

// Exact, case-sensitive comparison under the code page.
bool sameServerName(const char* left, const char* right);

// A record's primaryName as a string; a field of 24 characters is taken whole.
struct StoredName {
    char text[PRIMARY_NAME_SIZE + 1];
};
StoredName storedPrimaryName(const ServerRoleRecord& record);

// Prints server's role from its record: "%s is a primary.\n" or "%s is
// attached to %s.\n". True for a primary.
bool printRoleOf(const char* server, const ServerRoleRecord& record);

// Writes server's first role record: naming primary (itself for a primary),
// with the credentials that reached it, scrambled. RESULT_REFUSED, after
// saying why, when server already has a role; a failed write is reported.
int createRoleRecord(const char* server, const char* primary, const char* userName, const char* password);

// False, after saying so, when the name does not fit a record's primaryName.
bool fitsPrimaryName(const char* server);
