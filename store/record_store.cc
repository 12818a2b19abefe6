#include "store/record_store.h"

#include "platform/maker.h"

LONG loadStore(LONG flags) { return QuenbaseOpen(flags); }

LONG readRecord(LPCSTR server, LONG type, void* record, DWORD* size) { return QuenbaseGet(server, type, record, size); }

LONG writeRecord(LPCSTR server, LONG type, const void* record, DWORD* size) {
    return QuenbasePut(server, type, record, size);
}

// The store deletes when it is handed no record and a size of 0.
LONG deleteRecord(LPCSTR server, LONG type, DWORD* size) { return QuenbasePut(server, type, nullptr, size); }

LONG commitStore(LONG first, LONG second) { return QuenbaseCommit(first, second); }

LONG readRoleRecord(LPCSTR server, ServerRoleRecord& record, DWORD* sizeRead) {
    record = {};
    DWORD size = ROLE_RECORD_SIZE;
    LONG code = readRecord(server, ROLE_RECORD_TYPE, &record, &size);
    if (sizeRead) *sizeRead = size;
    return code;
}
