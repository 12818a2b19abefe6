/* The few functions of Samba's client libraries that the smb module's
 * load-time checks use, standing in for them with a layout the test picks
 * (standinMisfit): Samba as the module was built for, or built otherwise;
 * built with STANDIN_WITHOUT_COMPOSITE_CREATE, one without that function.
 * Linked with module_checks.c into a module of its own, which finds these
 * through its own symbols as the real one finds Samba's. */
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <talloc.h>
#include <util/data_blob.h>
#include <util/time.h>
#include <core/ntstatus.h>
#include <ndr.h>

#include "platform/linux/hosts/smb/winreg_calls.h"

enum {
    kFits,
    kInitFails,
    kNoSettings,
    kRequestRenamed,
    kRequestUnnamed,
    kRequestLarger,
    kRequestSmaller,
    kTableShort,
    kOneCompositeOnly,
    kCompositeNeverDone,
};
int standinMisfit = kFits;

static struct ndr_interface_call calls[WINREG_SET_VALUE + 1];
struct ndr_interface_table ndr_table_winreg = {.name = "winreg", .calls = calls};

static void declare(uint32_t opnum, const char *name, size_t size) {
    calls[opnum] = (struct ndr_interface_call){.name = name, .struct_size = size};
}

static void fillTable(void) {
    declare(WINREG_OPEN_HKLM, "winreg_OpenHKLM", sizeof(struct winreg_OpenHKLM));
    declare(WINREG_CLOSE_KEY, "winreg_CloseKey", sizeof(struct winreg_CloseKey));
    declare(WINREG_CREATE_KEY, "winreg_CreateKey", sizeof(struct winreg_CreateKey));
    declare(WINREG_DELETE_VALUE, "winreg_DeleteValue", sizeof(struct winreg_DeleteValue));
    declare(WINREG_ENUM_VALUE, "winreg_EnumValue", sizeof(struct winreg_EnumValue));
    declare(WINREG_OPEN_KEY, "winreg_OpenKey", sizeof(struct winreg_OpenKey));
    declare(WINREG_SET_VALUE, "winreg_SetValue", sizeof(struct winreg_SetValue));
    ndr_table_winreg.num_calls = WINREG_SET_VALUE + 1;
    if (standinMisfit == kRequestRenamed) calls[WINREG_SET_VALUE].name = "winreg_SetValueEx";
    if (standinMisfit == kRequestUnnamed) calls[WINREG_CLOSE_KEY].name = NULL;
    if (standinMisfit == kRequestLarger) calls[WINREG_ENUM_VALUE].struct_size += 8;
    if (standinMisfit == kRequestSmaller) calls[WINREG_OPEN_KEY].struct_size -= 8;
    if (standinMisfit == kTableShort) ndr_table_winreg.num_calls = WINREG_SET_VALUE;
}

NTSTATUS dcerpc_init(void) {
    fillTable();
    return standinMisfit == kInitFails ? NT_STATUS_UNSUCCESSFUL : NT_STATUS_OK;
}

struct loadparm_context *loadparm_init(TALLOC_CTX *memory) {
    return standinMisfit == kNoSettings ? NULL : (struct loadparm_context *)talloc_new(memory);
}

bool lpcfg_set_cmdline(struct loadparm_context *settings, const char *name, const char *value) {
    (void)settings, (void)name, (void)value;
    return true;
}

struct StandinComposite {
    int state;
};

#ifndef STANDIN_WITHOUT_COMPOSITE_CREATE
void *composite_create(TALLOC_CTX *memory, void *events) {
    static int made;
    (void)events;
    if (standinMisfit == kOneCompositeOnly && made++ > 0) return NULL;
    struct StandinComposite *composite = talloc_zero(memory, struct StandinComposite);
    if (composite) composite->state = 1; /* as Samba's composite.h numbers them */
    return composite;
}
#endif

void composite_done(struct StandinComposite *composite) {
    if (standinMisfit != kCompositeNeverDone) composite->state = 2;
}

void composite_error(struct StandinComposite *composite, NTSTATUS status) {
    (void)status;
    composite->state = 3;
}
