// reportError over the platform's own message texts (Wine's differ from
// Windows' own).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "operations/report_error.h"

namespace {

std::string platformText(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0x400, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string copy = text ? text : "";
    if (text) LocalFree(text);
    return copy;
}

std::string reported(long code) {
    testing::internal::CaptureStdout();
    reportError(kTransactionFailedContext, code);
    return testing::internal::GetCapturedStdout();
}

TEST(ReportErrorNative, SystemTextThenContext) {
    for (long code : {2L, 5L, 53L, 1222L, 1326L}) {
        std::string text = platformText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(reported(code), "ERROR! " + text + "Fail During Transaction.\n") << code;
    }
}

TEST(ReportErrorNative, UnknownCodeKeepsTheLineShape) {
    EXPECT_EQ(reported(0x2000ABCD), "ERROR! Fail During Transaction.\n");
}

// A text with insert sequences is printed as it stands, and nothing is read
// from arguments that were never passed.
TEST(ReportErrorNative, InsertsAreNotExpanded) {
    std::string text = platformText(ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(reported(ERROR_MR_MID_NOT_FOUND), "ERROR! " + text + "Fail During Transaction.\n");
    if (!text.empty()) {
        EXPECT_NE(text.find("%1"), std::string::npos);
    }
}

}  // namespace
