/* The winreg requests we send, laid out as Samba's NDR encoder for
 * ndr_table_winreg expects them: samba-dev ships the table and its encoder
 * but not the header that declares these structures. A test compares each
 * size with the table's and the bytes each encodes with the protocol's.
 * C, not C++: Samba's headers do not compile as C++. */
#ifndef VESKCFG_WINREG_CALLS_H
#define VESKCFG_WINREG_CALLS_H

#include <stdint.h>

#include <core/werror.h>
#include <gen_ndr/misc.h>

enum {
    WINREG_OPEN_HKLM = 2,
    WINREG_CLOSE_KEY = 5,
    WINREG_CREATE_KEY = 6,
    WINREG_DELETE_VALUE = 8,
    WINREG_ENUM_VALUE = 10,
    WINREG_OPEN_KEY = 15,
    WINREG_SET_VALUE = 22,
};

/* A counted UTF-16 string on the wire; here UTF-8, which the encoder
 * converts. Its lengths are computed by the encoder. */
struct winreg_String {
    uint16_t name_len;
    uint16_t name_size;
    const char *name;
};

/* The buffer an enumeration fills: size is its capacity in bytes. */
struct winreg_ValNameBuf {
    uint16_t length;
    uint16_t size;
    const char *name;
};

struct winreg_OpenHKLM {
    struct {
        uint16_t *system_name;
        uint32_t access_mask;
    } in;
    struct {
        struct policy_handle *handle;
        WERROR result;
    } out;
};

struct winreg_CloseKey {
    struct {
        struct policy_handle *handle;
    } in;
    struct {
        struct policy_handle *handle;
        WERROR result;
    } out;
};

struct winreg_CreateKey {
    struct {
        struct policy_handle *handle;
        struct winreg_String name;
        struct winreg_String keyclass;
        uint32_t options;
        uint32_t access_mask;
        void *secdesc;
        uint32_t *action_taken;
    } in;
    struct {
        struct policy_handle *new_handle;
        uint32_t *action_taken;
        WERROR result;
    } out;
};

struct winreg_DeleteValue {
    struct {
        struct policy_handle *handle;
        struct winreg_String value;
    } in;
    struct {
        WERROR result;
    } out;
};

struct winreg_EnumValue {
    struct {
        struct policy_handle *handle;
        uint32_t enum_index;
        struct winreg_ValNameBuf *name;
        uint32_t *type;
        uint8_t *value;
        uint32_t *size;
        uint32_t *length;
    } in;
    struct {
        struct winreg_ValNameBuf *name;
        uint32_t *type;
        uint8_t *value;
        uint32_t *size;
        uint32_t *length;
        WERROR result;
    } out;
};

struct winreg_OpenKey {
    struct {
        struct policy_handle *parent_handle;
        struct winreg_String keyname;
        uint32_t options;
        uint32_t access_mask;
    } in;
    struct {
        struct policy_handle *handle;
        WERROR result;
    } out;
};

struct winreg_SetValue {
    struct {
        struct policy_handle *handle;
        struct winreg_String name;
        uint32_t type;
        uint8_t *data;
        uint32_t size;
    } in;
    struct {
        WERROR result;
    } out;
};

#endif
