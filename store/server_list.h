// A primary's list of distributed servers: one REG_SZ value without data per
// attached server, in the key VeskDistributedServers under the product's
// registry root, in the primary's own registry.
#pragma once

#include "platform/win32.h"

// What changeListEntry does with the name.
constexpr int LIST_REMOVE = 0;
constexpr int LIST_ADD = 1;

// Adds (add non-zero) or removes serverName in the list on machineName.
LONG changeListEntry(LPCSTR machineName, LPCSTR serverName, int add);

// On 0 both keys are open and go to closeList; otherwise nothing is open.
LONG openListForReading(HKEY* rootKey, HKEY* listKey, LPCSTR machineName);

// The name of the value at index into a MAX_PATH-byte entryName, and its
// length without the terminator; 259 past the end.
LONG readListEntry(HKEY listKey, DWORD index, LPSTR entryName, LPDWORD nameLength);

LONG closeList(HKEY rootKey, HKEY listKey);
