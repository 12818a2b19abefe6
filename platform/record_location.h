// Where a server's role record is kept in a computer's registry: below
// HKEY_LOCAL_MACHINE, the key <servers root>\<server>\<product key name>,
// value Slot_1. The record store, the lookup of stored credentials and the
// tools that read a store all find it here, so that they never disagree.
#pragma once

#include "platform/win32.h"

// The value that holds the record.
constexpr char ROLE_RECORD_VALUE[] = "Slot_1";

// 1 when the product-information library gave the product key name, written
// into the MAX_PATH-byte nameBuffer; 0 leaves nameBuffer as it was.
int lookupProductKeyName(LONG recordType, char* nameBuffer);

// What the path ends in when the product-information library gives no name.
enum class WithoutProductName {
    Tallmere,  // the name a lookup falls back on, so that reading goes on
    Fail,      // a writer fails (ERROR_BADKEY) rather than put a record elsewhere
};

// The record's key path for server, below HKEY_LOCAL_MACHINE. 0; or
// ERROR_FILE_NOT_FOUND when the tools library gives no servers root (no
// record can be stored then), ERROR_BADKEY as above, or
// ERROR_FILENAME_EXCED_RANGE when the path would pass 259 characters.
LONG roleRecordKeyPath(LPCSTR server, LONG recordType, WithoutProductName rule, char (&path)[MAX_PATH]);
