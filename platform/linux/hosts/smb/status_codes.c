/* Windows' codes for the statuses of Samba's client: a table of the ones
 * whose code depends on when they came, Windows' ranges for the RPC
 * runtime's own, Samba's table for the rest, and 1726 for whatever none of
 * them knows. */
#include "platform/linux/hosts/smb/status_codes.h"

#include <stdbool.h>
#include <stddef.h>

enum {
    kAccessDenied = 5,
    kInvalidHandle = 6,
    kBadNetPath = 53,
    kNetNameDeleted = 64,
    kLogonFailure = 1326,
    kTimeSkew = 1398,
    kCallFailed = 1726,
    kNtlmBlocked = 1937,
};

static const struct {
    uint32_t status;
    uint32_t code;
} kAnyStage[] = {
    {0xC000006D, kLogonFailure}, /* logon failure */
    {0xC0000064, kLogonFailure}, /* no such user */
    {0xC000006A, kLogonFailure}, /* wrong password */
    {0xC0000022, kAccessDenied},
    {0xC0000418, kNtlmBlocked},
    {0xC0000133, kTimeSkew},
    /* A context handle the server does not know: Windows' RPC runtime
     * reports it as the invalid handle it is. */
    {0xC0030005, kInvalidHandle},
};

/* The connection went away under the session. */
static const uint32_t kLost[] = {
    0xC000020C, /* connection disconnected */
    0xC000020D, /* connection reset */
    0xC0000241, /* connection aborted */
    0xC00000C9, /* network name deleted */
    0xC000014B, /* pipe broken */
    0xC00000B0, /* pipe disconnected */
    0xC00000B1, /* pipe closing */
    0xC000013B, /* local disconnect */
    0xC000013C, /* remote disconnect */
    0xC00000C4, /* unexpected network error */
    0xC0000203, /* user session deleted */
    0xC000035C, /* network session expired */
    0xC0000011, /* end of file: the socket's */
};

/* The server was not found or not reached: how the library says so while
 * it connects (a refused connection comes back as NT_STATUS_NO_MEMORY). */
static const uint32_t kNotReached[] = {
    0xC0000017, /* no memory */
    0xC0000034, /* object name not found */
    0xC00000B5, /* I/O timeout */
    0xC0000236, /* connection refused */
    0xC000023D, /* host unreachable */
    0xC000023C, /* network unreachable */
    0xC00000BE, /* bad network path */
    0xC0000141, /* invalid address */
    0xC000023F, /* port unreachable */
    0xC000000D, /* invalid parameter */
};

static bool among(uint32_t status, const uint32_t *list, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (list[i] == status) return true;
    return false;
}

/* The RPC runtime's statuses map onto its Win32 codes by range, as Windows
 * maps them: RPC_NT_x (0xC002xxxx) to RPC_S_x from 1700, RPC_NT_x of the
 * stubs (0xC003xxxx) to RPC_X_x from 1772. 0 when status is neither. */
static uint32_t rpcRuntimeCode(uint32_t status) {
    uint32_t low = status & 0xFFFF;
    if ((status & 0xFFFF0000) == 0xC0020000 && low >= 0x01 && low <= 0x5F) return 1699 + low;
    if ((status & 0xFFFF0000) == 0xC0030000 && low >= 0x01 && low <= 0x1C) return 1771 + low;
    return 0;
}

uint32_t windowsCodeOfStatus(uint32_t status, uint32_t sambaMapped, enum SmbStage stage) {
    if (status == 0) return 0;
    for (size_t i = 0; i < sizeof kAnyStage / sizeof kAnyStage[0]; ++i)
        if (kAnyStage[i].status == status) return kAnyStage[i].code;
    /* Windows too says a server that dropped the connection, while the
     * session was made or after, is no longer available. */
    if (among(status, kLost, sizeof kLost / sizeof kLost[0])) return kNetNameDeleted;
    if (stage == SMB_REACHING && among(status, kNotReached, sizeof kNotReached / sizeof kNotReached[0]))
        return kBadNetPath;
    /* A server that took a request and gave no answer in time: a failed
     * remote procedure call, as Windows reports it, not a missing server. */
    if (status == 0xC00000B5) return kCallFailed;
    uint32_t runtime = rpcRuntimeCode(status);
    if (runtime) return runtime;
    /* Samba's table gives a status it lacks its low 16 bits, a guess that
     * names an unrelated code or none; a DOS status carries its code there. */
    bool dos = (status & 0xFF000000) == 0xF1000000;
    bool guessed = !dos && sambaMapped == (status & 0xFFFF);
    return sambaMapped == 0 || guessed ? kCallFailed : sambaMapped;
}
