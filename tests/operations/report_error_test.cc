#include "operations/report_error.h"

#include <gtest/gtest.h>

#include "platform/process.h"
#include "tools/support/temp_world.h"

namespace {

std::string reported(const char* context, long code) {
    testing::internal::CaptureStdout();
    reportError(context, code);
    return testing::internal::GetCapturedStdout();
}

TEST(ReportError, PrintsTheSystemTextThenTheContext) {
    TempWorld world;
    EXPECT_EQ(reported(kTransactionFailedContext, 2),
              "ERROR! The system cannot find the file specified.\r\nFail During Transaction.\n");
    EXPECT_EQ(reported(kConnectFailedContext, 1326),
              "ERROR! The user name or password is incorrect.\r\nFailed During Transaction.\n");
    EXPECT_EQ(reported(kTransactionFailedContext, 5), "ERROR! Access is denied.\r\nFail During Transaction.\n");
    // A code the system has no text for keeps the line's shape.
    EXPECT_EQ(reported(kTransactionFailedContext, 4242), "ERROR! Fail During Transaction.\n");
    world.write("ALPHA/faults", "FormatMessageA 8\n");
    EXPECT_EQ(reported(kTransactionFailedContext, 2), "ERROR! Fail During Transaction.\n");
}

TEST(ExitStatus, KeepsTheLowByteAndNeverReadsAsSuccess) {
    const long cases[][2] = {{0, 0}, {5, 5}, {87, 87}, {1002, 234}, {1326, 46}, {1219, 195}, {256, 255}, {512, 255}};
    for (const auto& c : cases) EXPECT_EQ(ExitStatusFromResult(c[0]), c[1]) << c[0];
}

}  // namespace
