/* What the files of the smb module (veskcfg-smb.so) share: Samba's headers
 * as the module uses them, the session with its keys and its walk, and the
 * functions one file gives the others. Nothing here leaves the module: its
 * one exported name is veskcfg_smb_client (smb_client.h).
 *
 *   module_checks.c  the load-time checks of Samba's layout, the libraries' start
 *   session.c        the session and the logon (Kerberos beside it, kerberos_logon.c)
 *   walk.c           the read-ahead walk of a key's values over lanes
 *   requests.c       the requests, one a registry call, and the module's table */
#ifndef VESKCFG_WINREG_MODULE_H
#define VESKCFG_WINREG_MODULE_H

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

#include "platform/linux/hosts/smb/smb_client.h"
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
 * the lanes opened are as many as kLoadBudget seconds of that work allow
 * (lanes.h), so that no lane waits for the others long enough to time out. */
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
struct SmbKey {
    SmbSession *session;
    struct policy_handle handle;
    const char *path; /* below HKEY_LOCAL_MACHINE, UTF-8; NULL when not known */
};

/* The libraries' event context and settings, made once (module_checks.c). */
extern struct tevent_context *events;
extern struct loadparm_context *settings;

/* module_checks.c */
void *sambaFunction(const char *name);
const char *problem(void);

/* session.c */
uint32_t openSession(const char *host, const char *user, const char *password, unsigned reachSeconds,
                     unsigned callSeconds, SmbSession **session);
void closeSession(SmbSession *session);

/* walk.c */
void endWalk(SmbSession *session);
void closeOnLanes(SmbSession *session, bool key);
uint32_t enumValue(SmbKey *key, uint32_t index, char *name, size_t capacity, uint32_t *type);

/* requests.c */
uint32_t answerCode(NTSTATUS status, const WERROR *result);
uint32_t callIn(TALLOC_CTX *memory, SmbSession *session, uint32_t opnum, void *request, const WERROR *result);

#endif
