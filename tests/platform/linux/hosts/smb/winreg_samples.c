/* Sample winreg requests in the layout the smb network declares, and what
 * Samba's own encoder for ndr_table_winreg makes of them: the test compares
 * the sizes with the table's and the bytes with the protocol's. */
#include <stdbool.h>
#include <stdint.h>
#include <string.h>

#include <talloc.h>
#include <util/data_blob.h>
#include <core/ntstatus.h>
#include <ndr.h>

#include "platform/linux/hosts/smb/winreg_calls.h"
#include "tests/platform/linux/hosts/smb/winreg_samples.h"

extern const struct ndr_interface_table ndr_table_winreg;

static struct policy_handle handle = {.handle_type = 0x11111111};
static uint32_t action = 0, type = 0;
static uint8_t byte = 0xAB;
static struct winreg_ValNameBuf nameBuffer = {.length = 0, .size = 0x200, .name = ""};

static struct winreg_OpenHKLM openHklm = {.in = {.system_name = NULL, .access_mask = 0x02000000},
                                          .out = {.handle = &handle}};
static struct winreg_CloseKey closeKey = {.in = {.handle = &handle}, .out = {.handle = &handle}};
static struct winreg_CreateKey createKey = {
    .in = {.handle = &handle, .name = {.name = "A\\B"}, .keyclass = {.name = ""}, .options = 1,
           .access_mask = 0x000F003F, .secdesc = NULL, .action_taken = &action},
    .out = {.new_handle = &handle, .action_taken = &action}};
static struct winreg_DeleteValue deleteValue = {.in = {.handle = &handle, .value = {.name = "V"}}};
static struct winreg_EnumValue enumValue = {
    .in = {.handle = &handle, .enum_index = 7, .name = &nameBuffer, .type = &type},
    .out = {.name = &nameBuffer, .type = &type}};
static struct winreg_OpenKey openKey = {
    .in = {.parent_handle = &handle, .keyname = {.name = "K"}, .options = 0, .access_mask = 0x00020019},
    .out = {.handle = &handle}};
static struct winreg_SetValue setValue = {
    .in = {.handle = &handle, .name = {.name = "N"}, .type = 1, .data = &byte, .size = 1}};

static void *sample(uint32_t opnum, size_t *size) {
    switch (opnum) {
    case WINREG_OPEN_HKLM: *size = sizeof openHklm; return &openHklm;
    case WINREG_CLOSE_KEY: *size = sizeof closeKey; return &closeKey;
    case WINREG_CREATE_KEY: *size = sizeof createKey; return &createKey;
    case WINREG_DELETE_VALUE: *size = sizeof deleteValue; return &deleteValue;
    case WINREG_ENUM_VALUE: *size = sizeof enumValue; return &enumValue;
    case WINREG_OPEN_KEY: *size = sizeof openKey; return &openKey;
    case WINREG_SET_VALUE: *size = sizeof setValue; return &setValue;
    default: *size = 0; return NULL;
    }
}

size_t winregTableSize(uint32_t opnum) {
    return opnum < ndr_table_winreg.num_calls ? ndr_table_winreg.calls[opnum].struct_size : 0;
}

size_t winregDeclaredSize(uint32_t opnum) {
    size_t size = 0;
    sample(opnum, &size);
    return size;
}

size_t winregSampleRequest(uint32_t opnum, uint8_t *out, size_t capacity) {
    size_t size = 0;
    void *request = sample(opnum, &size);
    if (!request || opnum >= ndr_table_winreg.num_calls) return 0;
    TALLOC_CTX *memory = talloc_new(NULL);
    struct ndr_push *push = ndr_push_init_ctx(memory);
    size_t length = 0;
    if (push && ndr_table_winreg.calls[opnum].ndr_push(push, NDR_IN, request) == NDR_ERR_SUCCESS) {
        DATA_BLOB blob = ndr_push_blob(push);
        if (blob.length <= capacity) {
            memcpy(out, blob.data, blob.length);
            length = blob.length;
        }
    }
    talloc_free(memory);
    return length;
}
