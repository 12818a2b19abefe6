// The winreg requests the smb network declares by hand are the ones Samba's
// encoder knows: the same size as its table says, and, filled in, the bytes
// the protocol lays down (each field where the protocol puts it, so that two
// swapped fields of one type show).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/platform/linux/hosts/smb/winreg_samples.h"

namespace {

std::string hexOf(const uint8_t* bytes, size_t length) {
    std::string out;
    char pair[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        out += pair;
    }
    return out;
}

// The sample request's handle, type 0x11111111 and a null GUID.
const std::string kHandle = "11111111" + std::string(32, '0');

TEST(WinregCalls, DeclaredAsTheLibraryEncodesThem) {
    struct Row {
        const char* call;
        uint32_t opnum;
        std::string request;
    };
    const Row rows[] = {
        {"OpenHKLM: no server name, MAXIMUM_ALLOWED", 2, "00000000" "00000002"},
        {"CloseKey", 5, kHandle},
        {"CreateKey A\\B: class \"\", options 1, access 0xF003F, no security, disposition 0", 6,
         kHandle + "08000800" "00000200" "04000000" "00000000" "04000000" "41005c0042000000" "02000200" "04000200"
                   "01000000" "00000000" "01000000" "00000000" "01000000" "3f000f00" "00000000" "08000200" "00000000"},
        {"DeleteValue V", 8, kHandle + "04000400" "00000200" "02000000" "00000000" "02000000" "56000000"},
        {"EnumValue 7 into 0x200 bytes, asking the type", 10,
         kHandle + "07000000" "02000002" "00000200" "00010000" "00000000" "01000000" "00000000" "04000200"
                   "00000000" "00000000" "00000000" "00000000"},
        {"OpenKey K: options 0, access KEY_READ", 15,
         kHandle + "04000400" "00000200" "02000000" "00000000" "02000000" "4b000000" "00000000" "19000200"},
        {"SetValue N: REG_SZ, one byte", 22,
         kHandle + "04000400" "00000200" "02000000" "00000000" "02000000" "4e000000" "01000000" "01000000"
                   "ab000000" "01000000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call);
        EXPECT_NE(winregTableSize(row.opnum), 0u);
        EXPECT_EQ(winregDeclaredSize(row.opnum), winregTableSize(row.opnum));
        uint8_t bytes[512];
        size_t length = winregSampleRequest(row.opnum, bytes, sizeof bytes);
        EXPECT_EQ(hexOf(bytes, length), row.request);
    }
}

}  // namespace
