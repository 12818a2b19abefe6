// Code page 1252 as names meet it: compared without regard to case, and
// converted from UTF-8 byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "platform/linux/machine/codepage.h"
#include "platform/win32.h"

namespace {

TEST(CodePage, NamesTheSameWithoutRegardToCase) {
    const struct {
        const char* left;
        const char* right;
        bool same;
    } rows[] = {
        {"\x8E", "\x9E", true},  // Ž ž, one of the pairs outside the Latin-1 range
        {"\x8A\x8C\x9F", "\x9A\x9C\xFF", true},
        {"\xC0\xDE", "\xE0\xFE", true},
        {"\xD7", "\xF7", false},  // × and ÷ are no pair
        {"ABCDEFGHIJ\x8E", "abcdefghij\x9E", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.left);
        EXPECT_EQ(sim::sameName(row.left, row.right), row.same);
        EXPECT_EQ(sim::sameName(row.right, row.left), row.same);
    }
}

// Each pair of cases the code page has, both ways; × and ÷ are none.
TEST(CodePage, LowerAndUpperCase) {
    const std::string upper = "AZ\x8A\x8C\x8E\x9F\xC0\xDE\xD7", lower = "az\x9A\x9C\x9E\xFF\xE0\xFE\xD7";
    std::string text = upper;
    EXPECT_EQ(reinterpret_cast<char*>(_mbslwr(reinterpret_cast<unsigned char*>(text.data()))), lower);
    text = lower;
    text[text.size() - 1] = '\xF7';
    EXPECT_EQ(reinterpret_cast<char*>(_mbsupr(reinterpret_cast<unsigned char*>(text.data()))), upper.substr(0, upper.size() - 1) + "\xF7");
}

TEST(CodePage, UtfEightIntoTheCodePage) {
    const struct {
        const char* utf8;
        std::string ansi;
    } rows[] = {
        {"\xC3\xBF", "\xFF"},                // ÿ, the last of Latin-1
        {"\xC2\xA0", "\xA0"},                // the first above the controls
        {"\xE2\x82\xAC", "\x80"},            // € from the table of the high half
        {"\xC5\xB8", "\x9F"},                // Ÿ
        {"\xF4\x8F\xBF\xBF", "?"},           // U+10FFFF: none of the code page's
        {"\xE3\x82\xA2", "?"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.utf8);
        EXPECT_EQ(sim::utf8ToAnsi(row.utf8), row.ansi);
    }
}

}  // namespace
