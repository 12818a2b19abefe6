// The record store (Quenbase.dll): one role record per server, addressed by
// the server's name and the record type.
#pragma once

#include "platform/win32.h"
#include "store/role_record.h"

LONG loadStore(LONG flags);
LONG readRecord(LPCSTR server, LONG type, void* record, DWORD* size);
LONG writeRecord(LPCSTR server, LONG type, const void* record, DWORD* size);
LONG deleteRecord(LPCSTR server, LONG type, DWORD* size);  // size must be 0
LONG commitStore(LONG first, LONG second);

// Reads server's role record into a zero-filled record. 0 when found; any
// other code means no record. sizeRead, when given, receives the length read.
LONG readRoleRecord(LPCSTR server, ServerRoleRecord& record, DWORD* sizeRead = nullptr);
