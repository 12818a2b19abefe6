/* The walk of a key's values: EnumValue by index, read ahead over lanes
 * when the link proves slow (winreg_module.h says how). */
#include "platform/linux/hosts/smb/lanes.h"
#include "platform/linux/hosts/smb/winreg_module.h"

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
void closeOnLanes(SmbSession *session, bool key) {
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
void endWalk(SmbSession *session) {
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

/* The index-th value's name and type, from the walk under way when the
 * caller goes on where it stopped (or skips ahead within the window, as when
 * a step was failed before it reached here), else from a walk that starts
 * at index. A key that changes during a walk gives, at each index, what it
 * held when the server took that request, as on Windows. */
uint32_t enumValue(SmbKey *key, uint32_t index, char *name, size_t capacity, uint32_t *type) {
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
        spreadWalk(session, lanesAffordable(walk->firstStep, session->quickestCall, kLoadBudget, kLanes));
        walk->window = walk->lanes * kAheadPerLane;
    }
    fillWindow(session); /* under way while the caller uses this answer */
    return code;
}
