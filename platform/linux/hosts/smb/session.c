/* A session to a server: the logon, by Kerberos where it can be used and by
 * NTLM where it cannot, then the winreg pipe in the server's IPC$. Failures
 * become the codes Windows gives for them. */
#include "platform/linux/hosts/smb/kerberos_logon.h"
#include "platform/linux/hosts/smb/status_codes.h"
#include "platform/linux/hosts/smb/winreg_module.h"

/* What a failure to reach or log on to a server is on Windows. */
static uint32_t connectCode(NTSTATUS status) {
    return windowsCodeOfStatus(NT_STATUS_V(status), W_ERROR_V(ntstatus_to_werror(status)), SMB_REACHING);
}

/* Whether host's port 445 takes a connection within seconds: asked only
 * when a logon was refused before the server was, since Windows, which
 * reaches the server first, reports a server it cannot reach as such. */
static bool reachable(const char *host, unsigned seconds) {
    struct addrinfo hints = {.ai_socktype = SOCK_STREAM}, *found = NULL;
    if (getaddrinfo(host, "445", &hints, &found) != 0) return false;
    bool reached = false;
    for (struct addrinfo *at = found; at && !reached; at = at->ai_next) {
        int fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) continue;
        if (connect(fd, at->ai_addr, at->ai_addrlen) == 0) {
            reached = true;
        } else if (errno == EINPROGRESS) {
            struct pollfd wait = {.fd = fd, .events = POLLOUT};
            int error = 0;
            socklen_t size = sizeof error;
            reached = poll(&wait, 1, (int)seconds * 1000) == 1 &&
                      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
        close(fd);
    }
    freeaddrinfo(found);
    return reached;
}

static bool namedByAddress(const char *host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

/* Whether domain, as typed before a backslash, names the realm's domain:
 * the realm itself, or its NetBIOS name as the machine's Samba
 * configuration gives it (smb.conf's workgroup, where its realm is this
 * one), as a member of the domain knows it. */
static bool namesRealm(const char *domain, const char *realm) {
    if (!realm || !*realm) return false;
    if (strcasecmp(domain, realm) == 0) return true;
    const char *(*workgroupOf)(struct loadparm_context *) = sambaFunction("lpcfg_workgroup");
    TALLOC_CTX *memory = talloc_new(NULL);
    struct loadparm_context *machine = memory && workgroupOf ? loadparm_init(memory) : NULL;
    bool named = false;
    if (machine && lpcfg_load_default(machine)) {
        const char *itsRealm = lpcfg_realm(machine), *itsDomain = workgroupOf(machine);
        named = itsRealm && itsDomain && strcasecmp(itsRealm, realm) == 0 && strcasecmp(itsDomain, domain) == 0;
    }
    talloc_free(memory);
    return named;
}

/* Gives the credentials the account as typed (DOMAIN\user, user@realm or
 * user) and picks how it logs on; each account goes only to the realm that
 * owns it. user@realm (in any letter case; realms are upper case) logs on
 * with Kerberos in that realm, user in krb5.conf's default realm, and
 * DOMAIN\user in it only where DOMAIN names that realm's domain. Any other
 * domain is one this machine's realm does not own (SERVER\user and .\user
 * the server's own account): NTLM alone, so that no KDC counts their
 * passwords against an account of its own. Kerberos also
 * needs the server named, not given by address; the KDC is asked first, and
 * a refusal of the account ends the logon with Windows' code for it. NTLM
 * where no KDC answers within the time a server is given to be reached.
 * 0: go on and connect. */
static uint32_t chooseLogon(struct cli_credentials *credentials, const char *host, const char *typed,
                            const char *password, unsigned reachSeconds) {
    char *name = talloc_strdup(credentials, typed ? typed : "");
    if (!name) return kNotEnoughMemory;
    char *at = strchr(name, '@');
    if (at)
        for (char *c = at + 1; *c; ++c) *c = (char)toupper((unsigned char)*c);
    cli_credentials_parse_string(credentials, name, CRED_SPECIFIED);
    const char *domain = !at && strchr(name, '\\') ? cli_credentials_get_domain(credentials) : NULL;
    bool domainNamed = domain && *domain;
    char *defaultRealm = at ? NULL : kerberosDefaultRealm();
    const char *realm = at ? at + 1 : defaultRealm;
    const char *user = at ? talloc_strndup(name, name, (size_t)(at - name)) : cli_credentials_get_username(credentials);
    uint32_t code = KERBEROS_UNUSABLE;
    if (domainNamed && strcmp(domain, ".") == 0) {
        /* This computer's account, the server's here: named after the server (its first label). */
        char *server = talloc_strndup(name, host, namedByAddress(host) ? strlen(host) : strcspn(host, "."));
        if (server) cli_credentials_set_domain(credentials, server, CRED_SPECIFIED);
    } else if (user && *user && realm && *realm && !namedByAddress(host) && (!domainNamed || namesRealm(domain, realm))) {
        code = kerberosLogon(user, realm, at != NULL || domainNamed, password, reachSeconds);
    }
    if (code == KERBEROS_UNUSABLE) {
        cli_credentials_set_kerberos_state(credentials, CRED_USE_KERBEROS_DISABLED, CRED_SPECIFIED);
        code = kSuccess;
    } else if (code == kSuccess && !at) {
        cli_credentials_set_realm(credentials, realm, CRED_SPECIFIED);
    }
    free(defaultRealm);
    return code;
}

/* Samba's copy of a password is wiped when its memory is freed, whichever
 * path frees it: libsamba-util's talloc_keep_secret() gives the chunk a
 * destructor that wipes it. */
static void keepSecret(const char *chunk) {
    void (*keep)(void *, const char *) = sambaFunction("_talloc_keep_secret");
    if (chunk && keep) keep((void *)chunk, "password");
}

static void lateConnection(struct tevent_context *ev, struct tevent_timer *timer, struct timeval now, void *late) {
    (void)ev, (void)timer, (void)now;
    *(bool *)late = true;
}

uint32_t openSession(const char *host, const char *user, const char *password, unsigned reachSeconds,
                            unsigned callSeconds, SmbSession **out) {
    *out = NULL;
    if (!host || !*host || strpbrk(host, "[]:\\/ ")) return kBadNetPath;
    if (problem()) return kNotSupported;
    TALLOC_CTX *memory = talloc_new(NULL);
    SmbSession *session = memory ? talloc_zero(memory, SmbSession) : NULL;
    struct cli_credentials *credentials = memory ? cli_credentials_init(memory) : NULL;
    char *binding = memory ? talloc_asprintf(memory, "ncacn_np:%s", host) : NULL;
    if (!session || !credentials || !binding) {
        talloc_free(memory);
        return kNotEnoughMemory;
    }
    session->memory = memory;
    cli_credentials_set_conf(credentials, settings);
    cli_credentials_set_workstation(credentials, "VESKCFG", CRED_SPECIFIED);
    uint32_t refused = chooseLogon(credentials, host, user, password, reachSeconds);
    if (refused) {
        talloc_free(memory);
        return refused == kNotEnoughMemory || reachable(host, reachSeconds) ? refused : kBadNetPath;
    }
    /* After the name, which Samba reads as user%password when it holds a '%'. */
    cli_credentials_set_password(credentials, password ? password : "", CRED_SPECIFIED);
    keepSecret(cli_credentials_get_password(credentials));

    struct composite_context *connecting =
        dcerpc_pipe_connect_send(memory, binding, &ndr_table_winreg, credentials, events, settings);
    if (!connecting) {
        talloc_free(memory);
        return kNotEnoughMemory;
    }
    bool late = false;
    struct tevent_timer *deadline =
        tevent_add_timer(events, memory, timeval_current_ofs(reachSeconds, 0), lateConnection, &late);
    while (!late && ((struct CompositeHead *)connecting)->state < kCompositeDone)
        if (tevent_loop_once(events) != 0) break;
    if (!late) talloc_free(deadline); /* a timer that fired is freed by tevent itself */
    if (late || ((struct CompositeHead *)connecting)->state < kCompositeDone) {
        talloc_free(memory); /* cancels what is still under way */
        return kBadNetPath;
    }
    NTSTATUS status = dcerpc_pipe_connect_recv(connecting, memory, &session->pipe);
    if (!NT_STATUS_IS_OK(status)) {
        talloc_free(memory);
        return connectCode(status);
    }
    dcerpc_binding_handle_set_timeout(session->pipe->binding_handle, callSeconds);
    session->credentials = credentials;
    session->callSeconds = callSeconds;
    session->lanes[0].pipe = session->pipe;
    *out = session;
    return kSuccess;
}

void closeSession(SmbSession *session) {
    if (!session) return;
    endWalk(session);
    closeOnLanes(session, false);
    talloc_free(session->memory);
}
