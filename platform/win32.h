// The Win32 calls, types and constants the program uses, under their Win32
// names and argument orders. On Windows they come from the SDK; on Linux
// platform/linux supplies them, over a world of folders or real SMB servers.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <winnetwk.h>
#include <mbstring.h>
#else

#include <cstdarg>
#include <cstdint>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned char BYTE;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HLOCAL;
typedef DWORD REGSAM;
typedef uintptr_t ULONG_PTR;
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef void* LPSECURITY_ATTRIBUTES;

#define TRUE 1
#define FALSE 0

#define MAX_PATH 260  // 259 characters and the NUL
#define LANG_USER_DEFAULT 0x400  // neutral language, default sublanguage

#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)

#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_BAD_NETPATH 53L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_NETNAME_DELETED 64L
#define ERROR_BAD_NET_NAME 67L
#define ERROR_ALREADY_ASSIGNED 85L
#define ERROR_INVALID_PASSWORD 86L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BUFFER_OVERFLOW 111L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_INVALID_MESSAGE 1002L
#define ERROR_NO_TOKEN 1008L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NO_NET_OR_BAD_PATH 1203L
#define ERROR_SESSION_CREDENTIAL_CONFLICT 1219L
#define ERROR_NO_NETWORK 1222L
#define ERROR_NETWORK_UNREACHABLE 1231L
#define ERROR_LOGON_FAILURE 1326L
#define ERROR_ACCOUNT_RESTRICTION 1327L
#define ERROR_INVALID_LOGON_HOURS 1328L
#define ERROR_INVALID_WORKSTATION 1329L
#define ERROR_PASSWORD_EXPIRED 1330L
#define ERROR_ACCOUNT_DISABLED 1331L
#define ERROR_TIME_SKEW 1398L
#define ERROR_TIMEOUT 1460L
#define RPC_S_UNKNOWN_IF 1717L
#define RPC_S_SERVER_UNAVAILABLE 1722L
#define RPC_S_CALL_FAILED 1726L
#define RPC_S_CALL_FAILED_DNE 1727L
#define RPC_S_PROTOCOL_ERROR 1728L
#define RPC_S_PROCNUM_OUT_OF_RANGE 1745L
#define RPC_X_BAD_STUB_DATA 1783L
#define ERROR_ACCOUNT_EXPIRED 1793L
#define ERROR_PASSWORD_MUST_CHANGE 1907L
#define ERROR_ACCOUNT_LOCKED_OUT 1909L
#define ERROR_NTLM_BLOCKED 1937L
#define ERROR_NOT_CONNECTED 2250L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

#define RESOURCE_GLOBALNET 2
#define RESOURCETYPE_ANY 0
#define RESOURCEDISPLAYTYPE_GENERIC 0
#define RESOURCEUSAGE_CONNECTABLE 1

struct NETRESOURCEA {
    DWORD dwScope;
    DWORD dwType;
    DWORD dwDisplayType;
    DWORD dwUsage;
    LPSTR lpLocalName;
    LPSTR lpRemoteName;
    LPSTR lpComment;
    LPSTR lpProvider;
};

// ADVAPI32
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegSetKeyValueA(HKEY key, LPCSTR subKey, LPCSTR valueName, DWORD type, const void* data,
                     DWORD dataSize);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                   LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegConnectRegistryA(LPCSTR machineName, HKEY key, PHKEY result);
LONG RegCloseKey(HKEY key);
LONG RegFlushKey(HKEY key);

// KERNEL32
BOOL GetComputerNameA(LPSTR buffer, LPDWORD size);
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size, va_list* arguments);
HLOCAL LocalFree(HLOCAL memory);

// MPR
DWORD WNetAddConnection2A(NETRESOURCEA* resource, LPCSTR password, LPCSTR userName, DWORD flags);
DWORD WNetCancelConnection2A(LPCSTR name, DWORD flags, BOOL force);

// C runtime multibyte case mapping, under the ANSI code page.
unsigned char* _mbsupr(unsigned char* text);
unsigned char* _mbslwr(unsigned char* text);
int _mbscmp(const unsigned char* left, const unsigned char* right);

#endif
