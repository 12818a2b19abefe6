/* winreg over SMB with Samba's client libraries (libdcerpc, ndr_table_winreg).
 * Each session is a DCE/RPC pipe to \PIPE\winreg through the server's IPC$,
 * opened with the account's credentials; every registry call is one winreg
 * request on it. Failures become the codes Windows gives for them. */
#include <ctype.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <talloc.h>
/* Samba's Kerberos client waits for the KDC in a loop of its own inside
 * ours, which tevent allows only when told, and declares how only here. */
#define TEVENT_DEPRECATED
#include <tevent.h>
#include <util/data_blob.h>
#include <util/time.h>
#include <core/ntstatus.h>
#include <core/werror.h>
#include <core/error.h>
#include <credentials.h>
#include <param.h>
#include <dcerpc.h>
#include <ndr.h>

#include "platform/linux/hosts/smb/kerberos_logon.h"
#include "platform/linux/hosts/smb/smb_client.h"
#include "platform/linux/hosts/smb/status_codes.h"
#include "platform/linux/hosts/smb/winreg_calls.h"

extern const struct ndr_interface_table ndr_table_winreg;

enum {
    kSuccess = 0,
    kNotEnoughMemory = 8,
    kNotSupported = 50,
    kBadNetPath = 53,
    kInvalidParameter = 87,
    kMoreData = 234,
    kNoMoreItems = 259,
};

/* The leading field of libcli's composite_context, whose header samba-dev
 * does not ship: how a connection started asynchronously says it is over.
 * The library offers no public way to learn it, so problem() checks this
 * layout against the library's own functions when the module is loaded. */
struct CompositeHead {
    int state;
};
enum { kCompositeInProgress = 1, kCompositeDone = 2, kCompositeError = 3 }; /* done from kCompositeDone on */

/* A walk of a key's values asks for index 0, 1, 2... one round trip each,
 * which on a slow link is the whole cost of a long list. EnumValue by index
 * needs no answer before the next request, but Samba's client carries one
 * request at a time on a pipe: so a walk that proves long on a slow link
 * spreads over lanes, the session's own pipe (on which the caller opened the
 * key) and kLanes - 1 more opened on the same SMB connection, each with the
 * key opened on it anew. Index i then goes to lane i % lanes, and a window
 * of kAheadPerLane requests a lane is kept under way; later indices are
 * answered from what arrived. A walk starts on its own pipe alone, one
 * request at a time as before: a short list, or any list on a fast link,
 * costs what it did. It spreads after kStepsBeforeSpreading steps when the
 * session's quickest request took kSlowLinkMicros or more: the link's round
 * trip, not the server's work. Opening the lanes costs some round trips, so
 * a walk first spends about as many of its own, as one rents skis before
 * buying them: a list that ends sooner never pays for lanes.
 *
 * A server may read a key's values anew for each handle on it (Samba does,
 * in a time that grows faster than the list), and it serves the lanes one
 * after the other: the walk's first step shows what a handle costs it, and
 * the lanes opened are as many as kLoadBudget seconds of that work allow,
 * so that no lane waits for the others long enough to time out. */
enum {
    kLanes = 16,
    kAheadPerLane = 2,
    kLargestWindow = kLanes * kAheadPerLane,
    kStepsBeforeSpreading = 32, /* opening the lanes costs some round trips: a walk first pays as many */
    kSlowLinkMicros = 2000,
};
static const double kLoadBudget = 2.0;

/* One request of a walk, for index; no memory: the slot is free. */
struct Ahead {
    struct tevent_req *request;
    TALLOC_CTX *memory; /* the request's and its answer's */
    uint32_t index;
    struct winreg_ValNameBuf buffer;
    uint32_t type;
    struct winreg_EnumValue r;
};

/* The one walk a session has under way: of key, requests sent for
 * [next, sent), none past end once an index answered that it is past the
 * last value; carried by lanes[0..lanes), which are lane numbers. */
struct Walk {
    SmbKey *key;
    uint32_t next, sent, end, window;
    uint32_t lanes;
    uint32_t lane[kLanes];
    uint32_t first;   /* the index it started at */
    double firstStep; /* seconds its first step took: a handle's cost to the server, and a round trip */
    bool spread;    /* the lanes were opened, or tried */
    struct Ahead ahead[kLargestWindow]; /* index i's in ahead[i % kLargestWindow] */
};

/* A pipe of the session; lane 0 is the session's own. */
struct Lane {
    struct dcerpc_pipe *pipe;
    struct policy_handle machine, key;
    bool hasMachine, hasKey;
};

struct SmbSession {
    TALLOC_CTX *memory;
    struct dcerpc_pipe *pipe;
    struct cli_credentials *credentials;
    unsigned callSeconds;
    double quickestCall; /* seconds: the round trip of the quickest request so far */
    struct Lane lanes[kLanes];
    struct Walk walk;
};

static void endWalk(SmbSession *session);
static void closeOnLanes(SmbSession *session, bool key);

struct SmbKey {
    SmbSession *session;
    struct policy_handle handle;
    const char *path; /* below HKEY_LOCAL_MACHINE, UTF-8; NULL when not known */
};

static struct tevent_context *events;
static struct loadparm_context *settings;

/* A function of one of the Samba libraries this module was loaded with,
 * found through its own dependencies: the ones the public headers do not
 * declare live in private libraries, whose exact version this module must
 * not be tied to. NULL when there is none. */
static void *sambaFunction(const char *name) {
    Dl_info self;
    void *module = dladdr((void *)sambaFunction, &self) ? dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD) : NULL;
    if (!module) return NULL;
    void *found = dlsym(module, name);
    dlclose(module);
    return found;
}

/* Samba's own diagnostics (a refused signature's hex dump, say) are not the
 * program's to show: they go where VESKCFG_TRACE says, or nowhere. */
static void sambaSaid(void *unused, int level, const char *message) {
    (void)unused;
    const char *path = getenv("VESKCFG_TRACE");
    int fd = path && *path ? open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600) : -1; /* its owner's only */
    FILE *trace = fd >= 0 ? fdopen(fd, "a") : NULL;
    if (!trace) {
        if (fd >= 0) close(fd);
        return;
    }
    fprintf(trace, "samba (level %d): %s", level, message);
    fclose(trace);
}

/* Names are looked up by the system resolver only, never by broadcast or
 * WINS: the servers are named as the administrator names them. */
static bool started(void) {
    if (events && settings) return true;
    void (*setCallback)(void *, void (*)(void *, int, const char *)) = sambaFunction("debug_set_callback");
    if (setCallback) setCallback(NULL, sambaSaid);
    if (!NT_STATUS_IS_OK(dcerpc_init())) return false;
    if (!events) events = tevent_context_init(NULL);
    if (!settings) settings = loadparm_init(NULL);
    if (!events || !settings) return false;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    tevent_loop_allow_nesting(events);
#pragma GCC diagnostic pop
    lpcfg_set_cmdline(settings, "name resolve order", "host");
    lpcfg_set_cmdline(settings, "disable netbios", "yes");
    lpcfg_set_cmdline(settings, "client min protocol", "SMB2_02");
    return true;
}

/* The requests this module declares by hand must be the ones the library's
 * table encodes: the same call at each number, of the same size. */
static const char *requestProblem(char *said, size_t capacity) {
    static const struct {
        uint32_t opnum;
        const char *name;
        size_t size;
    } requests[] = {
        {WINREG_OPEN_HKLM, "winreg_OpenHKLM", sizeof(struct winreg_OpenHKLM)},
        {WINREG_CLOSE_KEY, "winreg_CloseKey", sizeof(struct winreg_CloseKey)},
        {WINREG_CREATE_KEY, "winreg_CreateKey", sizeof(struct winreg_CreateKey)},
        {WINREG_DELETE_VALUE, "winreg_DeleteValue", sizeof(struct winreg_DeleteValue)},
        {WINREG_ENUM_VALUE, "winreg_EnumValue", sizeof(struct winreg_EnumValue)},
        {WINREG_OPEN_KEY, "winreg_OpenKey", sizeof(struct winreg_OpenKey)},
        {WINREG_SET_VALUE, "winreg_SetValue", sizeof(struct winreg_SetValue)},
    };
    for (size_t i = 0; i < sizeof requests / sizeof requests[0]; ++i) {
        const struct ndr_interface_call *call =
            requests[i].opnum < ndr_table_winreg.num_calls ? &ndr_table_winreg.calls[requests[i].opnum] : NULL;
        if (call && call->name && strcmp(call->name, requests[i].name) == 0 && call->struct_size == requests[i].size)
            continue;
        snprintf(said, capacity, "Samba's winreg table does not have %s as request %u of %zu bytes, as this module "
                 "was built for", requests[i].name, requests[i].opnum, requests[i].size);
        return said;
    }
    return NULL;
}

/* The state a composite_context made by the library's own functions shows
 * where this module reads it. */
static const char *compositeProblem(void) {
    static const char misfit[] = "libcli's composite_context is not laid out as this module was built for";
    struct composite_context *(*create)(TALLOC_CTX *, struct tevent_context *) = sambaFunction("composite_create");
    void (*done)(struct composite_context *) = sambaFunction("composite_done");
    void (*error)(struct composite_context *, NTSTATUS) = sambaFunction("composite_error");
    if (!create || !done || !error) return misfit;
    TALLOC_CTX *memory = talloc_new(NULL);
    struct composite_context *finished = memory ? create(memory, events) : NULL;
    struct composite_context *failed = memory ? create(memory, events) : NULL;
    bool fits = finished && failed && ((struct CompositeHead *)finished)->state == kCompositeInProgress;
    if (fits) {
        done(finished);
        error(failed, NT_STATUS_UNSUCCESSFUL);
        fits = ((struct CompositeHead *)finished)->state == kCompositeDone &&
               ((struct CompositeHead *)failed)->state == kCompositeError;
    }
    talloc_free(memory);
    return fits ? NULL : misfit;
}

static const char *problem(void) {
    static char said[256];
    static const char *found;
    static bool checked;
    if (checked) return found;
    checked = true;
    if (!started()) return found = "Samba's client libraries could not be started";
    if ((found = requestProblem(said, sizeof said))) return found;
    return found = compositeProblem();
}

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

static uint32_t openSession(const char *host, const char *user, const char *password, unsigned reachSeconds,
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

static void closeSession(SmbSession *session) {
    if (!session) return;
    endWalk(session);
    closeOnLanes(session, false);
    talloc_free(session->memory);
}

/* The code of a request's transport failure or of the server's answer. */
static uint32_t answerCode(NTSTATUS status, const WERROR *result) {
    if (!NT_STATUS_IS_OK(status))
        return windowsCodeOfStatus(NT_STATUS_V(status), W_ERROR_V(ntstatus_to_werror(status)), SMB_CALLING);
    return W_ERROR_V(*result);
}

/* Waits for the walk's request in slot and frees it: its code, with the
 * name (into name[capacity], 234 when it does not fit) and type answered. */
static uint32_t awaitAhead(struct Ahead *slot, char *name, size_t capacity, uint32_t *type) {
    uint32_t code = kNotEnoughMemory;
    if (slot->request && tevent_req_poll(slot->request, events)) {
        code = answerCode(dcerpc_binding_handle_call_recv(slot->request), &slot->r.out.result);
        const char *got = slot->buffer.name ? slot->buffer.name : "";
        size_t length = strlen(got);
        if (code == kSuccess && name && length >= capacity) code = kMoreData;
        if (code == kSuccess && name) memcpy(name, got, length + 1);
        if (code == kSuccess && type) *type = slot->type;
    }
    talloc_free(slot->memory);
    memset(slot, 0, sizeof *slot);
    return code;
}

/* The handle a lane walks the walk's key with. */
static struct policy_handle *walkedKey(SmbSession *session, uint32_t lane) {
    return lane == 0 ? &session->walk.key->handle : &session->lanes[lane].key;
}

static void sendAhead(SmbSession *session, uint32_t index) {
    struct Walk *walk = &session->walk;
    struct Ahead *slot = &walk->ahead[index % kLargestWindow];
    uint32_t lane = walk->lane[index % walk->lanes];
    /* A slot is never taken from a request still under way, whose answer
     * would land in the new one's buffers. */
    if (slot->memory) awaitAhead(slot, NULL, 0, NULL);
    slot->memory = talloc_new(session->memory);
    slot->index = index;
    slot->buffer = (struct winreg_ValNameBuf){.length = 0, .size = 0x8000, .name = ""};
    slot->r = (struct winreg_EnumValue){
        .in = {.handle = walkedKey(session, lane), .enum_index = index, .name = &slot->buffer, .type = &slot->type},
        .out = {.name = &slot->buffer, .type = &slot->type}};
    if (slot->memory)
        slot->request = dcerpc_binding_handle_call_send(slot->memory, events, session->lanes[lane].pipe->binding_handle,
                                                        NULL, &ndr_table_winreg, WINREG_ENUM_VALUE, slot->memory, &slot->r);
}

/* A request on one lane, with its parameters and where its answer's code is. */
struct LaneCall {
    struct tevent_req *request;
    union {
        struct winreg_OpenHKLM openMachine;
        struct winreg_OpenKey openKey;
        struct winreg_CloseKey closeKey;
    } r;
    struct policy_handle closed;
    WERROR *result;
};

/* Requests of one kind, one on each lane that `wanted` names, all under way
 * at once; the lanes whose request succeeded are marked in `done`. */
static void callOnLanes(SmbSession *session, TALLOC_CTX *memory, uint32_t opnum, struct LaneCall *calls,
                        const bool *wanted, bool *done) {
    for (uint32_t lane = 0; lane < kLanes; ++lane) {
        done[lane] = false;
        if (wanted[lane])
            calls[lane].request = dcerpc_binding_handle_call_send(memory, events, session->lanes[lane].pipe->binding_handle,
                                                                  NULL, &ndr_table_winreg, opnum, memory, &calls[lane].r);
    }
    for (uint32_t lane = 0; lane < kLanes; ++lane)
        if (wanted[lane] && calls[lane].request && tevent_req_poll(calls[lane].request, events))
            done[lane] = answerCode(dcerpc_binding_handle_call_recv(calls[lane].request), calls[lane].result) == kSuccess;
}

/* Closes, on every lane but the session's own, the handles the flags name. */
static void closeOnLanes(SmbSession *session, bool key) {
    TALLOC_CTX *memory = talloc_new(session->memory);
    struct LaneCall calls[kLanes] = {0};
    bool wanted[kLanes] = {false}, done[kLanes];
    for (uint32_t lane = 1; lane < kLanes; ++lane) {
        struct Lane *at = &session->lanes[lane];
        wanted[lane] = memory && (key ? at->hasKey : at->hasMachine);
        struct policy_handle *handle = key ? &at->key : &at->machine;
        calls[lane].r.closeKey = (struct winreg_CloseKey){.in = {.handle = handle}, .out = {.handle = &calls[lane].closed}};
        calls[lane].result = &calls[lane].r.closeKey.out.result;
    }
    callOnLanes(session, memory, WINREG_CLOSE_KEY, calls, wanted, done);
    for (uint32_t lane = 1; lane < kLanes; ++lane) {
        if (key) session->lanes[lane].hasKey = false;
        else session->lanes[lane].hasMachine = false;
    }
    talloc_free(memory);
}

/* Opens the lanes the walk may spread over: their pipes (once a session),
 * HKEY_LOCAL_MACHINE on each (likewise), then the walked key on each, every
 * step on all lanes at once. A lane that cannot be opened is left out. */
static void spreadWalk(SmbSession *session, uint32_t lanes) {
    struct Walk *walk = &session->walk;
    walk->spread = true;
    if (!walk->key->path) return;
    struct composite_context *opening[kLanes] = {0};
    for (uint32_t lane = 1; lane < lanes; ++lane)
        if (!session->lanes[lane].pipe)
            opening[lane] = dcerpc_secondary_auth_connection_send(session->pipe, session->pipe->binding,
                                                                  &ndr_table_winreg, session->credentials, settings);
    for (uint32_t lane = 1; lane < lanes; ++lane) {
        struct dcerpc_pipe *pipe = NULL;
        if (!opening[lane] ||
            !NT_STATUS_IS_OK(dcerpc_secondary_auth_connection_recv(opening[lane], session->memory, &pipe)))
            continue;
        dcerpc_binding_handle_set_timeout(pipe->binding_handle, session->callSeconds);
        session->lanes[lane].pipe = pipe;
    }
    TALLOC_CTX *memory = talloc_new(session->memory);
    if (!memory) return;
    struct LaneCall calls[kLanes] = {0};
    bool wanted[kLanes] = {false}, done[kLanes];
    for (uint32_t lane = 1; lane < lanes; ++lane) {
        struct Lane *at = &session->lanes[lane];
        wanted[lane] = at->pipe && !at->hasMachine;
        calls[lane].r.openMachine = (struct winreg_OpenHKLM){
            .in = {.system_name = NULL, .access_mask = 0x02000000 /* MAXIMUM_ALLOWED */}, .out = {.handle = &at->machine}};
        calls[lane].result = &calls[lane].r.openMachine.out.result;
    }
    callOnLanes(session, memory, WINREG_OPEN_HKLM, calls, wanted, done);
    for (uint32_t lane = 1; lane < lanes; ++lane) {
        struct Lane *at = &session->lanes[lane];
        if (done[lane]) at->hasMachine = true;
        wanted[lane] = at->hasMachine;
        calls[lane].r.openKey = (struct winreg_OpenKey){
            .in = {.parent_handle = &at->machine, .keyname = {.name = walk->key->path}, .options = 0,
                   .access_mask = 0x00020019 /* KEY_READ */},
            .out = {.handle = &at->key}};
        calls[lane].result = &calls[lane].r.openKey.out.result;
    }
    callOnLanes(session, memory, WINREG_OPEN_KEY, calls, wanted, done);
    talloc_free(memory);
    for (uint32_t lane = 1; lane < lanes; ++lane) {
        if (!done[lane]) continue;
        session->lanes[lane].hasKey = true;
        walk->lane[walk->lanes++] = lane;
    }
}

/* Ends the session's walk: what is still in flight is waited for (a request
 * on the wire cannot be taken back) and dropped, and the lanes' copies of
 * the key are closed. */
static void endWalk(SmbSession *session) {
    struct Walk *walk = &session->walk;
    if (!walk->key) return;
    for (uint32_t index = walk->next; index < walk->sent; ++index)
        awaitAhead(&walk->ahead[index % kLargestWindow], NULL, 0, NULL);
    memset(walk, 0, sizeof *walk);
    closeOnLanes(session, true);
}

/* Keeps the window full, never past the end once it is known. */
static void fillWindow(SmbSession *session) {
    struct Walk *walk = &session->walk;
    while (walk->sent < walk->next + walk->window && walk->sent <= walk->end) sendAhead(session, walk->sent++);
}

/* One request, whose answer's pointers point into `memory`. The session's
 * walk ends first: requests go out in the order the program makes them. */
static uint32_t callIn(TALLOC_CTX *memory, SmbSession *session, uint32_t opnum, void *request, const WERROR *result) {
    endWalk(session);
    struct timeval asked = timeval_current();
    NTSTATUS status =
        dcerpc_binding_handle_call(session->pipe->binding_handle, NULL, &ndr_table_winreg, opnum, memory, request);
    double took = timeval_elapsed(&asked);
    if (NT_STATUS_IS_OK(status) && (session->quickestCall == 0 || took < session->quickestCall))
        session->quickestCall = took;
    return answerCode(status, result);
}

/* A request whose answer holds nothing but handles we passed and a code. */
static uint32_t call(SmbSession *session, uint32_t opnum, void *request, const WERROR *result) {
    TALLOC_CTX *memory = talloc_new(session->memory);
    if (!memory) return kNotEnoughMemory;
    uint32_t code = callIn(memory, session, opnum, request, result);
    talloc_free(memory);
    return code;
}

static SmbKey *newKey(SmbSession *session) {
    SmbKey *key = talloc_zero(session->memory, SmbKey);
    if (key) key->session = session;
    return key;
}

/* Where a key opened at path below parent stands, for the lanes of a walk. */
static const char *pathBelow(SmbKey *key, const SmbKey *parent, const char *path) {
    if (!parent->path) return NULL;
    if (!*parent->path) return talloc_strdup(key, path);
    return talloc_asprintf(key, "%s\\%s", parent->path, path);
}

static uint32_t openMachine(SmbSession *session, SmbKey **out) {
    *out = NULL;
    SmbKey *key = newKey(session);
    if (!key) return kNotEnoughMemory;
    struct winreg_OpenHKLM r = {.in = {.system_name = NULL, .access_mask = 0x02000000 /* MAXIMUM_ALLOWED */},
                                .out = {.handle = &key->handle}};
    uint32_t code = call(session, WINREG_OPEN_HKLM, &r, &r.out.result);
    if (code) talloc_free(key);
    else *out = key;
    if (!code) key->path = talloc_strdup(key, "");
    return code;
}

static uint32_t createKey(SmbKey *parent, const char *path, uint32_t access, SmbKey **out, uint32_t *disposition) {
    *out = NULL;
    SmbKey *key = newKey(parent->session);
    if (!key) return kNotEnoughMemory;
    uint32_t action = 0;
    struct winreg_CreateKey r = {
        .in = {.handle = &parent->handle,
               .name = {.name = path},
               .keyclass = {.name = ""},
               .options = 0, /* non-volatile */
               .access_mask = access,
               .secdesc = NULL,
               .action_taken = &action},
        .out = {.new_handle = &key->handle, .action_taken = &action}};
    TALLOC_CTX *memory = talloc_new(key);
    uint32_t code = memory ? callIn(memory, parent->session, WINREG_CREATE_KEY, &r, &r.out.result) : kNotEnoughMemory;
    if (code) {
        talloc_free(key);
        return code;
    }
    if (disposition) *disposition = r.out.action_taken ? *r.out.action_taken : 0;
    talloc_free(memory);
    key->path = pathBelow(key, parent, path);
    *out = key;
    return kSuccess;
}

static uint32_t openKey(SmbKey *parent, const char *path, uint32_t access, SmbKey **out) {
    *out = NULL;
    SmbKey *key = newKey(parent->session);
    if (!key) return kNotEnoughMemory;
    struct winreg_OpenKey r = {
        .in = {.parent_handle = &parent->handle, .keyname = {.name = path}, .options = 0, .access_mask = access},
        .out = {.handle = &key->handle}};
    uint32_t code = call(parent->session, WINREG_OPEN_KEY, &r, &r.out.result);
    if (code) {
        talloc_free(key);
        return code;
    }
    key->path = pathBelow(key, parent, path);
    *out = key;
    return kSuccess;
}

static uint32_t setValue(SmbKey *key, const char *name, uint32_t type, const uint8_t *data, uint32_t size) {
    uint8_t none = 0;
    struct winreg_SetValue r = {
        .in = {.handle = &key->handle, .name = {.name = name}, .type = type, .data = data ? (uint8_t *)data : &none,
               .size = data ? size : 0}};
    return call(key->session, WINREG_SET_VALUE, &r, &r.out.result);
}

static uint32_t deleteValue(SmbKey *key, const char *name) {
    struct winreg_DeleteValue r = {.in = {.handle = &key->handle, .value = {.name = name}}};
    return call(key->session, WINREG_DELETE_VALUE, &r, &r.out.result);
}

/* The index-th value's name and type, from the walk under way when the
 * caller goes on where it stopped (or skips ahead within the window, as when
 * a step was failed before it reached here), else from a walk that starts
 * at index. A key that changes during a walk gives, at each index, what it
 * held when the server took that request, as on Windows. */
static uint32_t enumValue(SmbKey *key, uint32_t index, char *name, size_t capacity, uint32_t *type) {
    if (capacity == 0) return kInvalidParameter;
    SmbSession *session = key->session;
    struct Walk *walk = &session->walk;
    if (walk->key != key || index < walk->next || index > walk->sent) {
        endWalk(session);
        *walk = (struct Walk){
            .key = key, .next = index, .sent = index, .end = UINT32_MAX, .window = 1, .lanes = 1, .first = index};
    }
    for (; walk->next < index; ++walk->next) awaitAhead(&walk->ahead[walk->next % kLargestWindow], NULL, 0, NULL);
    fillWindow(session);
    struct timeval asked = timeval_current();
    uint32_t code = awaitAhead(&walk->ahead[index % kLargestWindow], name, capacity, type);
    if (index == walk->first) walk->firstStep = timeval_elapsed(&asked);
    walk->next = index + 1;
    if (code == kNoMoreItems) walk->end = index;
    if (!walk->spread && code == kSuccess && index - walk->first + 1 >= kStepsBeforeSpreading &&
        session->quickestCall * 1e6 >= kSlowLinkMicros) {
        double handleCost = walk->firstStep - session->quickestCall;
        double affordable = 1 + kLoadBudget / (handleCost > 0.001 ? handleCost : 0.001);
        spreadWalk(session, affordable < kLanes ? (uint32_t)affordable : kLanes);
        walk->window = walk->lanes * kAheadPerLane;
    }
    fillWindow(session); /* under way while the caller uses this answer */
    return code;
}

static uint32_t closeKey(SmbKey *key) {
    if (!key) return kInvalidParameter;
    struct policy_handle closed = key->handle;
    struct winreg_CloseKey r = {.in = {.handle = &key->handle}, .out = {.handle = &closed}};
    uint32_t code = call(key->session, WINREG_CLOSE_KEY, &r, &r.out.result);
    talloc_free(key);
    return code;
}

const struct SmbClient *veskcfg_smb_client(void) {
    static const struct SmbClient client = {
        .version = SMB_CLIENT_VERSION,
        .problem = problem,
        .openSession = openSession,
        .closeSession = closeSession,
        .openMachine = openMachine,
        .createKey = createKey,
        .openKey = openKey,
        .setValue = setValue,
        .deleteValue = deleteValue,
        .enumValue = enumValue,
        .closeKey = closeKey,
    };
    return &client;
}
