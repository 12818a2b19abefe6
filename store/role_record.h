// The role record of one server, as the record store and the local registry
// keep it: 76 bytes, integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int ROLE_RECORD_TYPE = 65;
constexpr int ROLE_RECORD_SIZE = 76;
constexpr int CREDENTIAL_FIELD_SIZE = 24;
constexpr int PRIMARY_NAME_SIZE = 24;  // at most 23 characters and the NUL

constexpr int RESULT_REFUSED = 5;      // the platform's access-denied code
constexpr int RESULT_CANCELLED = 1002;  // the user left a credential prompt

struct ServerRoleRecord {
    char primaryName[PRIMARY_NAME_SIZE];  // a primary names itself
    int32_t isDistributed;                // written, never read
    unsigned char userName[CREDENTIAL_FIELD_SIZE];  // always scrambled
    unsigned char password[CREDENTIAL_FIELD_SIZE];  // always scrambled
};

static_assert(sizeof(ServerRoleRecord) == ROLE_RECORD_SIZE);
static_assert(offsetof(ServerRoleRecord, primaryName) == 0);
static_assert(offsetof(ServerRoleRecord, isDistributed) == 24);
static_assert(offsetof(ServerRoleRecord, userName) == 28);
static_assert(offsetof(ServerRoleRecord, password) == 52);
