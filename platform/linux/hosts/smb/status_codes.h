/* What an NTSTATUS from a server, or from Samba's client on the way to it,
 * is on Windows. Samba's own mapping (ntstatus_to_werror) guesses the low 16
 * bits of a status its table lacks, which can be 0: read as success, a
 * fault would be an answer. So nothing but success ever maps to 0. */
#ifndef VESKCFG_STATUS_CODES_H
#define VESKCFG_STATUS_CODES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum SmbStage {
    SMB_REACHING, /* name, connection, logon, pipe: a failure there is a server not reached */
    SMB_CALLING,  /* a request on a session that was up */
};

/* Windows' code for status at stage. sambaMapped is what Samba's
 * ntstatus_to_werror gave for it, used where it is not a guess. */
uint32_t windowsCodeOfStatus(uint32_t status, uint32_t sambaMapped, enum SmbStage stage);

#ifdef __cplusplus
}
#endif

#endif
