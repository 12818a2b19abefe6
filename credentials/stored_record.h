// The role record stored for a server in the local registry, where the
// credentials for reaching it are kept.
#pragma once

#include "platform/record_location.h"
#include "platform/win32.h"

// 0 when the record was read into recordBuffer; otherwise the registry's code,
// which callers take as "no record stored".
LONG StoredRecordLookup(LPCSTR serverName, LONG recordType, void* recordBuffer, DWORD* size);
