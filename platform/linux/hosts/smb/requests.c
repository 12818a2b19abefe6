/* The winreg requests, one a registry call, each on the session's own pipe
 * (a walk under way ends first), and the table the module is reached by. */
#include "platform/linux/hosts/smb/status_codes.h"
#include "platform/linux/hosts/smb/winreg_module.h"

/* The code of a request's transport failure or of the server's answer. */
uint32_t answerCode(NTSTATUS status, const WERROR *result) {
    if (!NT_STATUS_IS_OK(status))
        return windowsCodeOfStatus(NT_STATUS_V(status), W_ERROR_V(ntstatus_to_werror(status)), SMB_CALLING);
    return W_ERROR_V(*result);
}

/* One request, whose answer's pointers point into `memory`. The session's
 * walk ends first: requests go out in the order the program makes them. */
uint32_t callIn(TALLOC_CTX *memory, SmbSession *session, uint32_t opnum, void *request, const WERROR *result) {
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
