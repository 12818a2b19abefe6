// Windows' code for each status Samba's client may give, before and after
// the session is up: never 0 for a failure, whatever Samba's own table says.
#include <gtest/gtest.h>

#include <ios>

#include "platform/linux/hosts/smb/status_codes.h"

namespace {

TEST(StatusCodes, NeverSuccessFromAFailure) {
    struct Row {
        const char* what;
        uint32_t status, sambaMapped;
        SmbStage stage;
        uint32_t code;
    } rows[] = {
        {"success", 0, 0, SMB_CALLING, 0},
        {"a fault Samba maps to its low bits, 0", 0xC0010000, 0, SMB_CALLING, 1726},
        {"a fault Samba maps to its low bits, a code", 0xC0AB0005, 5, SMB_CALLING, 1726},
        {"a logon answered with an unknown status", 0xC0FF0000, 0, SMB_REACHING, 1726},
        {"a DOS status of code 0", 0xF1000000, 0, SMB_CALLING, 1726},
        {"a DOS status", 0xF1000005, 5, SMB_CALLING, 5},
        {"a status Samba's table knows", 0xC0000034, 2, SMB_CALLING, 2},
        {"procedure number out of range", 0xC002002E, 46, SMB_CALLING, 1745},
        {"the call failed", 0xC002001B, 27, SMB_CALLING, 1726},
        {"bad stub data", 0xC003000C, 12, SMB_CALLING, 1783},
        {"a handle the server does not know", 0xC0030005, 5, SMB_CALLING, 6},
        {"wrong password", 0xC000006A, 86, SMB_REACHING, 1326},
        {"NTLM blocked", 0xC0000418, 0x418, SMB_REACHING, 1937},
        {"connection reset while reaching", 0xC000020D, 64, SMB_REACHING, 64},
        {"connection reset on a session", 0xC000020D, 64, SMB_CALLING, 64},
        {"end of file on a session", 0xC0000011, 38, SMB_CALLING, 64},
        {"no answer while reaching", 0xC00000B5, 1460, SMB_REACHING, 53},
        {"no answer to a request", 0xC00000B5, 1460, SMB_CALLING, 1726},
        {"refused connection", 0xC0000017, 8, SMB_REACHING, 53},
        {"out of memory on a session", 0xC0000017, 8, SMB_CALLING, 8},
    };
    for (const Row& row : rows)
        EXPECT_EQ(windowsCodeOfStatus(row.status, row.sambaMapped, row.stage), row.code) << row.what;
}

// Each way a connection is lost is 64, whenever it comes; each way a
// server is not reached is 53 while it is, and Samba's code on a session.
TEST(StatusCodes, EveryLossAndEveryServerNotReached) {
    const uint32_t lost[] = {0xC000020C, 0xC000020D, 0xC0000241, 0xC00000C9, 0xC000014B, 0xC00000B0, 0xC00000B1,
                             0xC000013B, 0xC000013C, 0xC00000C4, 0xC0000203, 0xC000035C, 0xC0000011};
    for (uint32_t status : lost)
        for (SmbStage stage : {SMB_REACHING, SMB_CALLING})
            EXPECT_EQ(windowsCodeOfStatus(status, 1234, stage), 64u) << std::hex << status << " at " << stage;
    const uint32_t notReached[] = {0xC0000017, 0xC0000034, 0xC0000236, 0xC000023D, 0xC000023C,
                                   0xC00000BE, 0xC0000141, 0xC000023F, 0xC000000D};
    for (uint32_t status : notReached) {
        EXPECT_EQ(windowsCodeOfStatus(status, 1234, SMB_REACHING), 53u) << std::hex << status;
        EXPECT_EQ(windowsCodeOfStatus(status, 1234, SMB_CALLING), 1234u) << std::hex << status;
    }
    EXPECT_EQ(windowsCodeOfStatus(0xC0000064, 1234, SMB_REACHING), 1326u);  // no such user
    EXPECT_EQ(windowsCodeOfStatus(0xC000006D, 1234, SMB_CALLING), 1326u);   // logon failure
    EXPECT_EQ(windowsCodeOfStatus(0xC0000022, 1234, SMB_CALLING), 5u);      // access denied
    EXPECT_EQ(windowsCodeOfStatus(0xC0000133, 1234, SMB_REACHING), 1398u);  // the DC's clock
    EXPECT_EQ(windowsCodeOfStatus(0xC002005F, 95, SMB_CALLING), 1794u);     // the RPC runtime's last
    EXPECT_EQ(windowsCodeOfStatus(0xC0020060, 96, SMB_CALLING), 1726u);     // past it: unknown
    EXPECT_EQ(windowsCodeOfStatus(0xC003001C, 28, SMB_CALLING), 1799u);     // the stubs' last
    EXPECT_EQ(windowsCodeOfStatus(0xC003001D, 29, SMB_CALLING), 1726u);
}

}  // namespace
