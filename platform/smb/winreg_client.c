/* winreg over SMB with Samba's client libraries (libdcerpc, ndr_table_winreg).
 * Each session is a DCE/RPC pipe to \PIPE\winreg through the server's IPC$,
 * opened with the account's credentials; every registry call is one winreg
 * request on it. Failures become the codes Windows gives for them. */
#include <dlfcn.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <talloc.h>
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

#include "platform/smb/smb_client.h"
#include "platform/smb/winreg_calls.h"

extern const struct ndr_interface_table ndr_table_winreg;

enum {
    kSuccess = 0,
    kAccessDenied = 5,
    kNotEnoughMemory = 8,
    kNotSupported = 50,
    kBadNetPath = 53,
    kInvalidParameter = 87,
    kMoreData = 234,
    kLogonFailure = 1326,
    kCallFailed = 1726,
};

/* The leading field of libcli's composite_context, whose header samba-dev
 * does not ship: how a connection started asynchronously says it is over.
 * The library offers no public way to learn it, so problem() checks this
 * layout against the library's own functions when the module is loaded. */
struct CompositeHead {
    int state;
};
enum { kCompositeInProgress = 1, kCompositeDone = 2, kCompositeError = 3 }; /* done from kCompositeDone on */

struct SmbSession {
    TALLOC_CTX *memory;
    struct dcerpc_pipe *pipe;
};

struct SmbKey {
    SmbSession *session;
    struct policy_handle handle;
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
    FILE *trace = path && *path ? fopen(path, "a") : NULL;
    if (!trace) return;
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

/* What a failure to reach or log on to a server is on Windows. The library
 * reports a refused connection as NT_STATUS_NO_MEMORY. */
static uint32_t connectCode(NTSTATUS status) {
    uint32_t value = NT_STATUS_V(status);
    if (value == NT_STATUS_V(NT_STATUS_LOGON_FAILURE) || value == NT_STATUS_V(NT_STATUS_NO_SUCH_USER) ||
        value == NT_STATUS_V(NT_STATUS_WRONG_PASSWORD))
        return kLogonFailure;
    if (value == NT_STATUS_V(NT_STATUS_ACCESS_DENIED)) return kAccessDenied;
    if (value == NT_STATUS_V(NT_STATUS_NO_MEMORY) || value == NT_STATUS_V(NT_STATUS_OBJECT_NAME_NOT_FOUND) ||
        value == NT_STATUS_V(NT_STATUS_IO_TIMEOUT) || value == NT_STATUS_V(NT_STATUS_CONNECTION_REFUSED) ||
        value == NT_STATUS_V(NT_STATUS_HOST_UNREACHABLE) || value == NT_STATUS_V(NT_STATUS_NETWORK_UNREACHABLE) ||
        value == NT_STATUS_V(NT_STATUS_BAD_NETWORK_PATH) || value == NT_STATUS_V(NT_STATUS_CONNECTION_RESET) ||
        value == NT_STATUS_V(NT_STATUS_CONNECTION_DISCONNECTED) || value == NT_STATUS_V(NT_STATUS_INVALID_ADDRESS) ||
        value == NT_STATUS_V(NT_STATUS_PORT_UNREACHABLE) || value == NT_STATUS_V(NT_STATUS_INVALID_PARAMETER))
        return kBadNetPath;
    return W_ERROR_V(ntstatus_to_werror(status));
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
    cli_credentials_parse_string(credentials, user ? user : "", CRED_SPECIFIED);
    cli_credentials_set_password(credentials, password ? password : "", CRED_SPECIFIED);
    cli_credentials_set_workstation(credentials, "VESKCFG", CRED_SPECIFIED);

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
    *out = session;
    return kSuccess;
}

static void closeSession(SmbSession *session) {
    if (session) talloc_free(session->memory);
}

/* One request, whose answer's pointers point into `memory`; the code of its
 * transport failure or of the server's answer. A server that took the
 * request and gave no answer within the session's timeout is a failed
 * remote procedure call, as Windows reports it, not a missing server. */
static uint32_t callIn(TALLOC_CTX *memory, SmbSession *session, uint32_t opnum, void *request, const WERROR *result) {
    NTSTATUS status = dcerpc_binding_handle_call(session->pipe->binding_handle, NULL, &ndr_table_winreg, opnum,
                                                 memory, request);
    if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT)) return kCallFailed;
    if (!NT_STATUS_IS_OK(status)) return connectCode(status);
    return W_ERROR_V(*result);
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

static uint32_t openMachine(SmbSession *session, SmbKey **out) {
    *out = NULL;
    SmbKey *key = newKey(session);
    if (!key) return kNotEnoughMemory;
    struct winreg_OpenHKLM r = {.in = {.system_name = NULL, .access_mask = 0x02000000 /* MAXIMUM_ALLOWED */},
                                .out = {.handle = &key->handle}};
    uint32_t code = call(session, WINREG_OPEN_HKLM, &r, &r.out.result);
    if (code) talloc_free(key);
    else *out = key;
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
    if (code) talloc_free(key);
    else *out = key;
    return code;
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

/* The name and type come back in memory of the request: copied out before
 * that is freed. */
static uint32_t enumValue(SmbKey *key, uint32_t index, char *name, size_t capacity, uint32_t *type) {
    if (capacity == 0) return kInvalidParameter;
    TALLOC_CTX *memory = talloc_new(key->session->memory);
    if (!memory) return kNotEnoughMemory;
    struct winreg_ValNameBuf buffer = {.length = 0, .size = 0x8000, .name = ""};
    uint32_t valueType = 0;
    struct winreg_EnumValue r = {
        .in = {.handle = &key->handle, .enum_index = index, .name = &buffer, .type = &valueType},
        .out = {.name = &buffer, .type = &valueType}};
    uint32_t code = callIn(memory, key->session, WINREG_ENUM_VALUE, &r, &r.out.result);
    if (code == kSuccess) {
        const char *got = buffer.name ? buffer.name : "";
        size_t length = strlen(got);
        if (length >= capacity) {
            code = kMoreData;
        } else {
            memcpy(name, got, length + 1);
            if (type) *type = r.out.type ? *r.out.type : 0;
        }
    }
    talloc_free(memory);
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
