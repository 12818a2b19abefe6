// A primary's list as the operations show it: one attached-server line a
// name, in the registry's order.
#pragma once

#include <optional>

#include "platform/win32.h"

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

// Opens server's list, prints its attached-server lines and closes it; when
// the list cannot be opened, prints noList instead (the commands word it
// each their own way) and gives nothing, the open's code in *openCode.
std::optional<ListWalk> printListOf(const char* server, const char* noList, LONG* openCode = nullptr);
