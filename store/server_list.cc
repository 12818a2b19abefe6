#include "store/server_list.h"

#include <cstdio>
#include <cstring>

#include "platform/maker.h"

namespace {

// The local registry when machineName is absent or names this computer,
// otherwise machineName's registry over the network. The comparison is exact:
// another letter case goes over the network.
LONG chooseRoot(LPCSTR machineName, HKEY* rootKey) {
    char localName[MAX_PATH] = {};
    DWORD size = sizeof localName;
    GetComputerNameA(localName, &size);
    if (machineName && _mbscmp(reinterpret_cast<const unsigned char*>(machineName),
                               reinterpret_cast<const unsigned char*>(localName)) != 0)
        return RegConnectRegistryA(machineName, HKEY_LOCAL_MACHINE, rootKey);
    *rootKey = HKEY_LOCAL_MACHINE;
    return ERROR_SUCCESS;
}

LONG buildListPath(char (&path)[MAX_PATH]) {
    char root[MAX_PATH] = {};
    ZenthalListRoot(root, sizeof root);
    int length = std::snprintf(path, sizeof path, "%s\\VeskDistributedServers", root);
    return length < 0 || length >= static_cast<int>(sizeof path) ? ERROR_FILENAME_EXCED_RANGE : ERROR_SUCCESS;
}

}  // namespace

LONG changeListEntry(LPCSTR machineName, LPCSTR serverName, int add) {
    char path[MAX_PATH] = {};
    char valueName[MAX_PATH] = {};
    if (LONG code = buildListPath(path)) return code;
    if (std::strlen(serverName) >= sizeof valueName) return ERROR_INVALID_NAME;
    std::strcpy(valueName, serverName);
    HKEY rootKey = nullptr;
    if (LONG code = chooseRoot(machineName, &rootKey)) return code;
    HKEY listKey = nullptr;
    LONG code = RegCreateKeyExA(rootKey, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                &listKey, nullptr);
    if (code != ERROR_SUCCESS) {
        RegCloseKey(rootKey);
        return code;
    }
    if (add) code = RegSetValueExA(listKey, valueName, 0, REG_SZ, nullptr, 0);
    else code = RegDeleteValueA(listKey, valueName);
    RegCloseKey(rootKey);
    RegCloseKey(listKey);
    return code;
}

LONG openListForReading(HKEY* rootKey, HKEY* listKey, LPCSTR machineName) {
    char path[MAX_PATH] = {};
    if (LONG code = buildListPath(path)) return code;
    if (LONG code = chooseRoot(machineName, rootKey)) return code;
    LONG code = RegOpenKeyExA(*rootKey, path, 0, KEY_READ, listKey);
    if (code != ERROR_SUCCESS) RegCloseKey(*rootKey);
    return code;
}

LONG readListEntry(HKEY listKey, DWORD index, LPSTR entryName, LPDWORD nameLength) {
    *nameLength = MAX_PATH;
    return RegEnumValueA(listKey, index, entryName, nameLength, nullptr, nullptr, nullptr, nullptr);
}

LONG closeList(HKEY rootKey, HKEY listKey) {
    RegCloseKey(rootKey);
    RegCloseKey(listKey);
    return 0;
}
