/* The first Kerberos exchange of a logon, with MIT's libkrb5: its public
 * interface hands back the KDC's error whole, e-data and all. The ticket it
 * gets is dropped at once; Samba's client then logs on with the same
 * password and gets its own, in memory. So no ticket cache is written, and
 * an account's refusal is known before the server is asked.
 *
 * libkrb5 waits for a KDC that takes requests and never answers for about
 * half a minute, and offers no way to wait less: the exchange runs in a
 * thread of its own, and one that outlasts the time allowed is left to end
 * by itself while the logon goes on without Kerberos. */
#include <errno.h>
#include <pthread.h>
#include <stdbool.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <krb5/krb5.h>

#include "platform/linux/hosts/smb/kerberos_logon.h"

/* What the KDC's clock may differ from ours: libkrb5's own default. MIT's
 * client quietly takes the KDC's time when its first request is refused
 * for skew, where Windows refuses the logon; Samba's client does not, so
 * a skew libkrb5 got past still fails the session, as a plain logon failure. */
enum { kAllowedSkewSeconds = 300 };

char *kerberosDefaultRealm(void) {
    krb5_context context;
    if (krb5_init_context(&context)) return NULL;
    char *realm = NULL, *found = NULL;
    if (krb5_get_default_realm(context, &realm) == 0 && realm && *realm) found = strdup(realm);
    if (realm) krb5_free_default_realm(context, realm);
    krb5_free_context(context);
    return found;
}

/* The code of a failed exchange: the KDC's refusal as Windows names it, or
 * KERBEROS_UNUSABLE when no KDC refused anything. */
static uint32_t failureCode(krb5_context context, krb5_init_creds_context exchange, int realmNamed) {
    krb5_error *error = NULL;
    if (krb5_init_creds_get_error(context, exchange, &error) || !error) return KERBEROS_UNUSABLE;
    uint32_t code = kdcRefusalCode(error->error, (const uint8_t *)error->e_data.data, error->e_data.length);
    if (!realmNamed && error->error == KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN - ERROR_TABLE_BASE_krb5) code = KERBEROS_UNUSABLE;
    krb5_free_error(context, error);
    return code;
}

/* True when libkrb5 moved its clock by more than the skew allowed. */
static int clockWasSkewed(krb5_context context) {
    krb5_timestamp seconds = 0;
    krb5_int32 micros = 0;
    if (krb5_get_time_offsets(context, &seconds, &micros)) return 0;
    return seconds > kAllowedSkewSeconds || seconds < -kAllowedSkewSeconds;
}

static uint32_t askKdc(const char *user, const char *realm, int realmNamed, const char *password) {
    krb5_context context;
    if (krb5_init_context(&context)) return KERBEROS_UNUSABLE;
    uint32_t code = KERBEROS_UNUSABLE;
    krb5_principal client = NULL;
    krb5_get_init_creds_opt *options = NULL;
    krb5_init_creds_context exchange = NULL;
    /* The user name is one component as typed: no '/' or '@' in it is read
     * as Kerberos syntax. */
    if (krb5_build_principal_ext(context, &client, (unsigned)strlen(realm), realm, (unsigned)strlen(user), user, 0) ||
        krb5_get_init_creds_opt_alloc(context, &options) ||
        krb5_init_creds_init(context, client, NULL, NULL, 0, options, &exchange) ||
        krb5_init_creds_set_password(context, exchange, password))
        goto done;
    if (krb5_init_creds_get(context, exchange) == 0)
        code = clockWasSkewed(context) ? kdcRefusalCode(37, NULL, 0) : 0;
    else
        code = failureCode(context, exchange, realmNamed);
done:
    if (exchange) krb5_init_creds_free(context, exchange);
    if (options) krb5_get_init_creds_opt_free(context, options);
    if (client) krb5_free_principal(context, client);
    krb5_free_context(context);
    return code;
}

/* One exchange, shared by the thread that makes it and the one that waits
 * for it, and freed by whichever lets go of it last. */
struct Ask {
    pthread_mutex_t lock;
    pthread_cond_t answered;
    int holders;
    bool done;
    uint32_t code;
    int realmNamed;
    char *user, *realm, *password;
};

static void letGo(struct Ask *ask) {
    pthread_mutex_lock(&ask->lock);
    bool last = --ask->holders == 0;
    pthread_mutex_unlock(&ask->lock);
    if (!last) return;
    if (ask->password) explicit_bzero(ask->password, strlen(ask->password)); /* a memset a compiler may drop */
    free(ask->user);
    free(ask->realm);
    free(ask->password);
    pthread_cond_destroy(&ask->answered);
    pthread_mutex_destroy(&ask->lock);
    free(ask);
}

static void *asking(void *argument) {
    struct Ask *ask = argument;
    uint32_t code = askKdc(ask->user, ask->realm, ask->realmNamed, ask->password);
    pthread_mutex_lock(&ask->lock);
    ask->code = code;
    ask->done = true;
    pthread_cond_signal(&ask->answered);
    pthread_mutex_unlock(&ask->lock);
    letGo(ask);
    return NULL;
}

uint32_t kerberosLogon(const char *user, const char *realm, int realmNamed, const char *password, unsigned seconds) {
    if (!user || !*user || !realm || !*realm) return KERBEROS_UNUSABLE;
    struct Ask *ask = calloc(1, sizeof *ask);
    if (!ask) return KERBEROS_UNUSABLE;
    pthread_mutex_init(&ask->lock, NULL);
    pthread_condattr_t clock;
    pthread_condattr_init(&clock);
    pthread_condattr_setclock(&clock, CLOCK_MONOTONIC);
    pthread_cond_init(&ask->answered, &clock);
    pthread_condattr_destroy(&clock);
    ask->holders = 1;
    ask->realmNamed = realmNamed;
    ask->user = strdup(user);
    ask->realm = strdup(realm);
    ask->password = strdup(password ? password : "");
    pthread_t thread;
    pthread_attr_t detached;
    pthread_attr_init(&detached);
    pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED);
    bool started = ask->user && ask->realm && ask->password;
    if (started) {
        ask->holders = 2;
        started = pthread_create(&thread, &detached, asking, ask) == 0;
        if (!started) ask->holders = 1;
    }
    pthread_attr_destroy(&detached);
    uint32_t code = KERBEROS_UNUSABLE;
    if (started) {
        struct timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += seconds;
        pthread_mutex_lock(&ask->lock);
        int waited = 0;
        while (!ask->done && waited != ETIMEDOUT) waited = pthread_cond_timedwait(&ask->answered, &ask->lock, &deadline);
        if (ask->done) code = ask->code;
        pthread_mutex_unlock(&ask->lock);
    }
    letGo(ask);
    return code;
}
