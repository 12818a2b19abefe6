/* The smb module's start: Samba's client libraries started once, and the
 * checks, made when the module is loaded, that the libraries are laid out
 * as the module was built for, so that no malformed request goes out after
 * an upgrade. */
#include "platform/linux/hosts/smb/winreg_module.h"

struct tevent_context *events;
struct loadparm_context *settings;

/* A function of one of the Samba libraries this module was loaded with,
 * found through its own dependencies: the ones the public headers do not
 * declare live in private libraries, whose exact version this module must
 * not be tied to. NULL when there is none. */
void *sambaFunction(const char *name) {
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
 * WINS: the servers are named as the administrator names them. Once, by
 * problem(), which keeps its answer. */
static bool started(void) {
    void (*setCallback)(void *, void (*)(void *, int, const char *)) = sambaFunction("debug_set_callback");
    if (setCallback) setCallback(NULL, sambaSaid);
    if (!NT_STATUS_IS_OK(dcerpc_init())) return false;
    events = tevent_context_init(NULL);
    settings = loadparm_init(NULL);
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

const char *problem(void) {
    static char said[256];
    static const char *found;
    static bool checked;
    if (checked) return found;
    checked = true;
    if (!started()) return found = "Samba's client libraries could not be started";
    if ((found = requestProblem(said, sizeof said))) return found;
    return found = compositeProblem();
}
