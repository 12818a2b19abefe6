// A KDC's error e-data as any server may send it: read within its size,
// whatever it holds, and always some code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/linux/hosts/smb/kerberos_logon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int32_t error = data[0];  // the error number, then the e-data
    if (kdcRefusalCode(error, data + 1, size - 1) == 0) std::abort();  // a refusal is never success
    return 0;
}
