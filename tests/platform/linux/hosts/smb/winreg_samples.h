/* Sample winreg requests, encoded by Samba's own encoder. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

size_t winregTableSize(uint32_t opnum);
size_t winregDeclaredSize(uint32_t opnum);
/* The request's bytes; 0 when it does not encode. */
size_t winregSampleRequest(uint32_t opnum, uint8_t *out, size_t capacity);

#ifdef __cplusplus
}
#endif
