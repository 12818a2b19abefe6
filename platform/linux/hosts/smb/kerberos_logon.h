/* A domain account's logon by Kerberos, made at the realm's KDC before the
 * session is opened: Samba's client folds the KDC's refusals into a few
 * coarse statuses, where Windows tells a disabled account from an expired
 * one, a password that expired from one that must be changed. The KDC says
 * which in its error, and these functions read it. */
#ifndef VESKCFG_KERBEROS_LOGON_H
#define VESKCFG_KERBEROS_LOGON_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Kerberos cannot be used for this logon (no KDC for the realm answered, it
 * offers nothing this client can use): the logon is left to NTLM. */
#define KERBEROS_UNUSABLE 0xFFFFFFFFu

/* The default realm of the machine's Kerberos configuration (krb5.conf, or
 * what KRB5_CONFIG names); NULL when it names none. free() it. */
char *kerberosDefaultRealm(void);

/* Asks the realm's KDC for user's initial ticket with password, and keeps
 * nothing it gets: 0 when the password was taken; Windows' code for the
 * account's refusal; KERBEROS_UNUSABLE, also when no answer came within
 * seconds. A realm the account did not name (the default one) that does not
 * know the user is KERBEROS_UNUSABLE too: the account may be the server's
 * own, as a workgroup server's are. */
uint32_t kerberosLogon(const char *user, const char *realm, int realmNamed, const char *password, unsigned seconds);

/* Windows' code for a KDC's refusal (kdcError, the protocol's error number)
 * with the error's e-data as sent; KERBEROS_UNUSABLE when the refusal is not
 * about the account. The e-data comes from the network: it is read within
 * size and never trusted. */
uint32_t kdcRefusalCode(int32_t kdcError, const uint8_t *edata, size_t size);

#ifdef __cplusplus
}
#endif

#endif
