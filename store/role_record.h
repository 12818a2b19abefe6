// The role record of one server, as the record store and the local registry
// keep it: 76 bytes, integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/maker.h"

constexpr int ROLE_RECORD_SIZE = 76;
constexpr int CREDENTIAL_FIELD_SIZE = 24;
constexpr int PRIMARY_NAME_SIZE = 24;  // at most 23 characters and the NUL

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
