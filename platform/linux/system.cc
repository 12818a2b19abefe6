// System services of the simulated computer: its name, the system message
// texts and the process exit status.
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/process.h"
#include "platform/linux/hosts/faults.h"
#include "platform/linux/machine/world.h"
#include "platform/standin_faults.h"
#include "platform/win32.h"

namespace {

struct SystemMessage {
    DWORD code;
    const char* text;
};

// The English texts of Windows 10/11, each with the line break that
// FormatMessage gives every system message.
const SystemMessage kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
    {ERROR_BAD_NETPATH, "The network path was not found.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_NETNAME_DELETED, "The specified network name is no longer available.\r\n"},
    {ERROR_BAD_NET_NAME, "The network name cannot be found.\r\n"},
    {ERROR_ALREADY_ASSIGNED, "The local device name is already in use.\r\n"},
    {ERROR_INVALID_PASSWORD, "The specified network password is not correct.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_BUFFER_OVERFLOW, "The file name is too long.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_BAD_PATHNAME, "The specified path is invalid.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_INVALID_MESSAGE, "The window cannot act on the sent message.\r\n"},
    {ERROR_NO_TOKEN, "An attempt was made to reference a token that does not exist.\r\n"},
    {ERROR_BADDB, "The configuration registry database is corrupt.\r\n"},
    {ERROR_BADKEY, "The configuration registry key is invalid.\r\n"},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened.\r\n"},
    {ERROR_CANTREAD, "The configuration registry key could not be read.\r\n"},
    {ERROR_CANTWRITE, "The configuration registry key could not be written.\r\n"},
    {ERROR_REGISTRY_CORRUPT, "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or the system's memory image of the file is corrupted, or the file could not be recovered because the alternate copy or log was absent or corrupted.\r\n"},
    {ERROR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {ERROR_NO_NET_OR_BAD_PATH, "The network path was either typed incorrectly, does not exist, or the network provider is not currently available. Please try retyping the path or contact your network administrator.\r\n"},
    {ERROR_SESSION_CREDENTIAL_CONFLICT, "Multiple connections to a server or shared resource by the same user, using more than one user name, are not allowed. Disconnect all previous connections to the server or shared resource and try again.\r\n"},
    {ERROR_NO_NETWORK, "The network is not present or not started.\r\n"},
    {ERROR_NETWORK_UNREACHABLE, "The network location cannot be reached. For information about network troubleshooting, see Windows Help.\r\n"},
    {ERROR_LOGON_FAILURE, "The user name or password is incorrect.\r\n"},
    {ERROR_ACCOUNT_RESTRICTION, "Account restrictions are preventing this user from signing in. For example: blank passwords aren't allowed, sign-in times are limited, or a policy restriction has been enforced.\r\n"},
    {ERROR_INVALID_LOGON_HOURS, "Your account has time restrictions that keep you from signing in right now.\r\n"},
    {ERROR_INVALID_WORKSTATION, "This user isn't allowed to sign in to this computer.\r\n"},
    {ERROR_PASSWORD_EXPIRED, "The password for this account has expired.\r\n"},
    {ERROR_ACCOUNT_DISABLED, "This user can't sign in because this account is currently disabled.\r\n"},
    {ERROR_TIME_SKEW, "There is a time and/or date difference between the client and server.\r\n"},
    {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable.\r\n"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
    {RPC_S_UNKNOWN_IF, "The interface is unknown.\r\n"},
    {RPC_S_CALL_FAILED, "The remote procedure call failed.\r\n"},
    {RPC_S_CALL_FAILED_DNE, "The remote procedure call failed and did not execute.\r\n"},
    {RPC_S_PROTOCOL_ERROR, "A remote procedure call (RPC) protocol error occurred.\r\n"},
    {RPC_S_PROCNUM_OUT_OF_RANGE, "The procedure number is out of range.\r\n"},
    {RPC_X_BAD_STUB_DATA, "The stub received bad data.\r\n"},
    {ERROR_ACCOUNT_EXPIRED, "The user's account has expired.\r\n"},
    {ERROR_PASSWORD_MUST_CHANGE, "The user's password must be changed before signing in.\r\n"},
    {ERROR_ACCOUNT_LOCKED_OUT, "The referenced account is currently locked out and may not be logged on to.\r\n"},
    {ERROR_NTLM_BLOCKED, "The authentication failed since NTLM authentication has been disabled.\r\n"},
    {ERROR_NOT_CONNECTED, "This network connection does not exist.\r\n"},
    {ERROR_WRITE_PROTECT, "The media is write protected.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
    {ERROR_MR_MID_NOT_FOUND, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
};

constexpr DWORD kEnglishUnitedStates = 0x409;  // the language of every text here

// A Linux exit status holds one byte.
constexpr unsigned long kExitStatusBits = 0xFF;
constexpr int kStatusForALowByteOfZero = 255;

const char* messageText(DWORD code) {
    for (const SystemMessage& message : kMessages)
        if (message.code == code) return message.text;
    return nullptr;
}

LONG localFault(sim::Call call) { return sim::faultFor(sim::localComputerFolder(false), call); }

}  // namespace

BOOL GetComputerNameA(LPSTR buffer, LPDWORD size) {
    if (!size || localFault(sim::Call::GetComputerNameA)) return FALSE;
    const std::string name = sim::localComputerName();
    if (!buffer || *size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        return FALSE;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

// Only the form the program uses: a system message in an allocated buffer.
// Texts that carry inserts are given with their inserts unexpanded.
DWORD FormatMessageA(DWORD flags, const void*, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     va_list*) {
    if (localFault(sim::Call::FormatMessageA)) return 0;
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) return 0;
    if (languageId != 0 && languageId != LANG_USER_DEFAULT && languageId != kEnglishUnitedStates) return 0;
    const char* text = messageText(messageId);
    if (!text) return 0;
    size_t length = std::strlen(text);
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        char* copy = static_cast<char*>(std::malloc(length + 1));
        if (!copy) return 0;
        std::memcpy(copy, text, length + 1);
        *reinterpret_cast<char**>(buffer) = copy;
        return static_cast<DWORD>(length);
    }
    if (size < length + 1) return 0;
    std::memcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}

void KeepSecretsFromOthers() {
    static bool kept = false;
    if (!kept) kept = prctl(PR_SET_DUMPABLE, 0) == 0;  // no core file, no ptrace but root's
}

// A Linux exit status holds 8 bits. A code whose low byte is 0 would read as
// success, so it becomes 255.
int ExitStatusFromResult(long result) {
    if (result == 0) return 0;
    int low = static_cast<int>(static_cast<unsigned long>(result) & kExitStatusBits);
    return low == 0 ? kStatusForALowByteOfZero : low;
}

LONG StandInFault(const char* operation) {
    sim::Call call;
    return sim::callNamed(operation, call) ? localFault(call) : 0;
}

bool StandardOutputIsTerminal() {
    static const bool terminal = isatty(STDOUT_FILENO) == 1;
    return terminal;
}
