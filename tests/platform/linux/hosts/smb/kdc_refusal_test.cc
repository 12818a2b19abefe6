// A KDC's refusal as Windows names it, from the error number and the e-data
// the KDC sent: each e-data held in a buffer of its exact size, so that a
// read past it shows under the sanitizers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/hosts/smb/kerberos_logon.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes der(uint8_t tag, const Bytes& contents) {
    Bytes out = {tag};
    if (contents.size() < 0x80) {
        out.push_back(static_cast<uint8_t>(contents.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(contents.size() >> 8));
        out.push_back(static_cast<uint8_t>(contents.size()));
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A (type, value) pair whose fields are tagged [first] and [first + 1].
Bytes pair(uint8_t first, uint8_t type, const Bytes& value) {
    return der(0x30, joined({der(0xA0 + first, der(0x02, {type})), der(0xA1 + first, der(0x04, value))}));
}

// The extended error: the status, little-endian, then eight bytes more.
Bytes status(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24), 0, 0, 0, 0, 1, 0, 0, 0};
}

// METHOD-DATA with PA-PW-SALT, as Samba's KDC sends it.
Bytes methodData(uint32_t value) { return der(0x30, pair(1, 3, status(value))); }

TEST(KdcRefusal, WindowsCodeFromTheErrorAndItsStatus) {
    struct {
        const char* name;
        int32_t error;
        Bytes edata;
        uint32_t code;
    } cases[] = {
        {"disabled", 18, methodData(0xC0000072), 1331},
        {"account expired", 18, methodData(0xC0000193), 1793},
        {"locked out: no status", 18, {}, 1909},
        {"password expired", 23, methodData(0xC0000071), 1330},
        {"must change", 23, methodData(0xC0000224), 1907},
        {"key expired, no status", 23, {}, 1330},
        {"wrong password", 24, {}, 1326},
        {"unknown principal", 6, {}, 1326},
        {"bad integrity", 31, {}, 1326},
        {"clock skew", 37, {}, 1398},
        {"policy, no status", 12, {}, 1327},
        {"policy, outside the logon hours", 12, methodData(0xC000006F), 1328},
        {"the status after another pair", 18, der(0x30, joined({pair(1, 19, {1, 2}), pair(1, 3, status(0xC0000072))})), 1331},
        {"TYPED-DATA's extended error", 18, der(0x30, pair(0, 3, status(0xC0000193))), 1793},
        {"a type written in four bytes", 18,
         der(0x30, der(0x30, joined({der(0xA1, der(0x02, {0, 0, 0, 3})), der(0xA2, der(0x04, status(0xC0000072)))}))), 1331},
        {"a status no table row names", 18, methodData(0xC0000001), 1909},
        {"a refusal not about the account", 14, {}, KERBEROS_UNUSABLE},
        {"... unless its status says it is", 14, methodData(0xC0000072), 1331},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kdcRefusalCode(c.error, c.edata.empty() ? nullptr : c.edata.data(), c.edata.size()), c.code);
    }
}

// Every status the KDC may send, each to Windows' own code for it.
TEST(KdcRefusal, EveryStatusItsCode) {
    const struct {
        uint32_t status, code;
    } statuses[] = {
        {0xC0000064, 1326}, {0xC000006A, 1326}, {0xC000006D, 1326}, {0xC000006E, 1327}, {0xC000006F, 1328},
        {0xC0000070, 1329}, {0xC0000071, 1330}, {0xC0000072, 1331}, {0xC0000133, 1398}, {0xC0000193, 1793},
        {0xC0000224, 1907}, {0xC0000234, 1909},
    };
    for (const auto& row : statuses) {
        Bytes edata = methodData(row.status);
        EXPECT_EQ(kdcRefusalCode(24, edata.data(), edata.size()), row.code) << std::hex << row.status;
    }
}

// E-data from the network that is cut short, lies about its lengths or
// holds the wrong things is no status: the error number's code stands.
TEST(KdcRefusal, BadEdataIsNoStatus) {
    const Bytes good = methodData(0xC0000072);
    Bytes cut(good.begin(), good.end() - 5);
    Bytes longer = good;
    longer[1] = 0x7F;
    struct {
        const char* name;
        Bytes edata;
    } cases[] = {
        {"cut short", cut},
        {"a length past the end", longer},
        {"a four-byte length past the end", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x30}},
        {"an indefinite length", {0x30, 0x80, 0x00, 0x00}},
        {"a length of five bytes", {0x30, 0x85, 0, 0, 0, 0, 1, 0}},
        {"one byte", {0x30}},
        {"a status of three bytes", der(0x30, pair(1, 3, {0x72, 0x00, 0x00}))},
        {"a negative type", der(0x30, der(0x30, joined({der(0xA1, der(0x02, {0xFD})), der(0xA2, der(0x04, status(0xC0000072)))})))},
        {"fields tagged out of order", der(0x30, der(0x30, joined({der(0xA2, der(0x02, {3})), der(0xA1, der(0x04, status(0xC0000072)))})))},
        {"fields that are not context-tagged", der(0x30, der(0x30, joined({der(0x31, der(0x02, {3})), der(0x32, der(0x04, status(0xC0000072)))})))},
        {"a length's own bytes cut short", {0x30, 0x82, 0x01}},
        {"not a sequence", der(0x04, status(0xC0000072))},
        {"an empty sequence", der(0x30, {})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kdcRefusalCode(18, c.edata.data(), c.edata.size()), 1909u);
    }
}

}  // namespace
