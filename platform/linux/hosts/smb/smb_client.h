/* The winreg client of the smb network, in a module of its own that is
 * loaded only when VESKCFG_NETWORK=smb: Samba's libraries cost a program
 * that never uses them nothing. Every call answers a Win32 code. */
#ifndef VESKCFG_SMB_CLIENT_H
#define VESKCFG_SMB_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SmbSession SmbSession;
typedef struct SmbKey SmbKey;

#define SMB_CLIENT_VERSION 2

struct SmbClient {
    uint32_t version;
    /* NULL when the module fits the Samba libraries it was loaded with;
     * otherwise why not, in a sentence, and no call may be made. */
    const char *(*problem)(void);
    /* An authenticated SMB session to host's IPC$, with the winreg pipe open
     * in it. Reaching it is given up after reachSeconds (53); each call on
     * it after callSeconds without an answer (1726). Names are UTF-8. */
    uint32_t (*openSession)(const char *host, const char *user, const char *password, unsigned reachSeconds,
                            unsigned callSeconds, SmbSession **session);
    /* Ends the session; its keys must be closed first. */
    void (*closeSession)(SmbSession *session);
    uint32_t (*openMachine)(SmbSession *session, SmbKey **key);
    uint32_t (*createKey)(SmbKey *parent, const char *path, uint32_t access, SmbKey **key, uint32_t *disposition);
    uint32_t (*openKey)(SmbKey *parent, const char *path, uint32_t access, SmbKey **key);
    uint32_t (*setValue)(SmbKey *key, const char *name, uint32_t type, const uint8_t *data, uint32_t size);
    uint32_t (*deleteValue)(SmbKey *key, const char *name);
    /* The index-th value's name, NUL-terminated in name[capacity]; 234 when
     * it does not fit. */
    uint32_t (*enumValue)(SmbKey *key, uint32_t index, char *name, size_t capacity, uint32_t *type);
    /* Releases the key whatever the server answers. */
    uint32_t (*closeKey)(SmbKey *key);
};

/* The module's one entry point, found with dlsym. */
__attribute__((visibility("default"))) const struct SmbClient *veskcfg_smb_client(void);

#ifdef __cplusplus
}
#endif

#endif
