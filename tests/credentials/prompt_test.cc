#include "credentials/prompt.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/credentials/fake_console.h"

namespace {

struct PromptCase {
    const char* what;
    std::vector<int> keys;
    int result;
    std::string userName;  // checked when the result is 0
    std::string password;
    std::string echo;
};

std::vector<int> keysOf(const std::string& text) { return std::vector<int>(text.begin(), text.end()); }

std::vector<int> join(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::string kBack = "\x08 \x08";

const PromptCase kCases[] = {
    {"both fields", keysOf("admin\rsecret\r"), 0, "admin", "secret", "admin\n******\n"},
    {"Enter at once gives empty fields", keysOf("\r\r"), 0, "", "", "\n\n"},
    {"Tab ends a field as Enter does", keysOf("ab\tcd\t"), 0, "ab", "cd", "ab\n**\n"},
    {"Backspace takes back the last key", keysOf("abc\bd\rxy\bz\r"), 0, "abd", "xz",
     "abc" + kBack + "d\n**" + kBack + "*\n"},
    {"Backspace at the start does nothing", keysOf("\b\bq\r\br\r"), 0, "q", "r", "q\n*\n"},
    {"only the first 20 keys count", keysOf("abcdefghijklmnopqrstuvwxy\r\r"), 0, "abcdefghijklmnopqrst", "",
     "abcdefghijklmnopqrst\n\n"},
    {"an arrow key is two values", join({{224, 72}, keysOf("a\r\r")}), 0, "\xE0" "Ha", "", "\xE0" "Ha\n\n"},
    {"Ctrl+C is a key like any other", keysOf("\x03\r\x03\r"), 0, "\x03", "\x03", "\x03\n*\n"},
    {"Esc in the name", keysOf("ad\x1b"), PROMPT_ESCAPED, "", "", "ad"},
    {"Esc in the password", keysOf("admin\rse\x1b"), PROMPT_ESCAPED, "", "", "admin\n**"},
    {"no console ends as Esc does", keysOf("adm"), PROMPT_ESCAPED, "", "", "adm"},
};

TEST(CredentialPrompt, FollowsTheKeyTable) {
    for (const PromptCase& c : kCases) {
        SCOPED_TRACE(c.what);
        fakeConsole() = FakeConsole(c.keys);
        char userName[260], password[260];
        std::memset(userName, 'U', sizeof userName);
        std::memset(password, 'P', sizeof password);
        testing::internal::CaptureStdout();
        int result = CredentialPrompt(userName, password, "SRV");
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(fakeConsole().echo, c.echo);
        EXPECT_EQ(fakeConsole().endCalls, 1);
        if (c.result == 0) {
            EXPECT_EQ(std::string(userName), c.userName);
            EXPECT_EQ(std::string(password), c.password);
            EXPECT_EQ(userName[c.userName.size() + 1], 'U');  // nothing past the NUL is touched
            EXPECT_EQ(printed, " Press <Esc> to quit \nSRV : Username = SRV : Password = ");
            // What a program that answers the prompt is asked, field by field.
            EXPECT_EQ(fakeConsole().fields, (std::vector<std::string>{"SRV : Username = ", "SRV : Password = "}));
        }
    }
}

}  // namespace
