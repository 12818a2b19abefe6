#include "operations/listing.h"
#include "platform/result_codes.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "operations/shown_names.h"
#include "store/server_list.h"

ListWalk printAttachedServers(HKEY listKey) {
    // "      attached server: %s\n" a name, put together here and written in
    // batches: lists run to hundreds of thousands of names.
    static const char kPrefix[] = "      attached server: ";
    constexpr size_t kBatch = 65536;
    std::string batch;
    batch.reserve(kBatch + sizeof kPrefix + MAX_PATH);
    ListWalk walk = {0, ERROR_NO_MORE_ITEMS};
    char entryName[MAX_PATH] = {};
    for (DWORD index = 0; walk.endCode == ERROR_NO_MORE_ITEMS; ++index) {
        entryName[0] = '\0';  // a failed step prints an empty name
        DWORD nameLength = 0;
        LONG code = readListEntry(listKey, index, entryName, &nameLength);
        if (code == ERROR_NO_MORE_ITEMS) break;
        if (code != ERROR_SUCCESS) walk.endCode = code;
        if (code != ERROR_SUCCESS || nameLength >= MAX_PATH) nameLength = static_cast<DWORD>(strnlen(entryName, MAX_PATH - 1));
        makeShowable(entryName, nameLength);
        batch.append(kPrefix, sizeof kPrefix - 1).append(entryName, nameLength).append(1, '\n');
        if (batch.size() >= kBatch) {
            std::fwrite(batch.data(), 1, batch.size(), stdout);
            batch.clear();
        }
        ++walk.linesPrinted;
    }
    std::fwrite(batch.data(), 1, batch.size(), stdout);
    return walk;
}

std::optional<ListWalk> printListOf(const char* server, const char* noList, LONG* openCode) {
    HKEY rootKey = nullptr;
    HKEY listKey = nullptr;
    LONG code = openListForReading(&rootKey, &listKey, server);
    if (openCode) *openCode = code;
    if (code != 0) {
        std::fputs(noList, stdout);
        return std::nullopt;
    }
    ListWalk walk = printAttachedServers(listKey);
    closeList(rootKey, listKey);
    return walk;
}
