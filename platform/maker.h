// Entry points of the maker's three libraries, imported by ordinal on Windows.
// Our stand-ins implement them (platform/standins).
#pragma once

#include "platform/win32.h"

// The maker's type code of a role record, for the record store and the
// product-information call.
constexpr LONG ROLE_RECORD_TYPE = 65;

// The product record that ordinal 106 fills: the product key name in bytes
// 4-23, not necessarily terminated.
constexpr DWORD PRODUCT_INFO_SIZE = 28;
constexpr DWORD PRODUCT_NAME_OFFSET = 4;
constexpr DWORD PRODUCT_NAME_SIZE = 20;

extern "C" {

// Quenbase.dll, the record store.
LONG QuenbaseOpen(LONG flags);                                          // ordinal 100
LONG QuenbaseCommit(LONG first, LONG second);                           // ordinal 114
LONG QuenbasePut(LPCSTR server, LONG type, const void* record, DWORD* size);  // ordinal 115
LONG QuenbaseGet(LPCSTR server, LONG type, void* record, DWORD* size);  // ordinal 116

// Zenthal.dll, the tools library: registry roots, written into buffer.
LONG ZenthalListRoot(LPSTR buffer, DWORD size);     // ordinal 1261
LONG ZenthalServersRoot(LPSTR buffer, DWORD size);  // ordinal 1262

// Morvane.dll, the product-information library: fills the product record.
// Success when the low 16 bits of the result are not zero.
LONG MorvaneProductInfo(LONG recordType, void* productInfo);  // ordinal 106

}  // extern "C"
