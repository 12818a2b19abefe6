#include "platform/linux/console/key_decoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Decodes every key of the bytes, as the reader would one at a time.
std::vector<int> decodeAll(const std::string& bytes) {
    size_t at = 0;
    sim::NextByte next = [&](bool) {
        return at < bytes.size() ? static_cast<unsigned char>(bytes[at++]) : sim::kNoByteYet;
    };
    std::vector<int> all;
    while (at < bytes.size()) {
        sim::KeyValues values;
        EXPECT_TRUE(sim::decodeKey(next, values));
        while (values.count) all.push_back(values.take());
    }
    return all;
}

struct KeyCase {
    const char* bytes;
    std::vector<int> values;
};

TEST(KeyDecoder, GivesTheConsoleValues) {
    const KeyCase cases[] = {
        {"a", {'a'}},
        {"\r", {13}},
        {"\t", {9}},
        {"\x7f", {8}},
        {"\x08", {8}},
        {"\x03", {3}},
        {"\x1b", {27}},
        {"\x1b[A", {224, 72}},
        {"\x1bOA", {224, 72}},
        {"\x1b[B", {224, 80}},
        {"\x1b[C", {224, 77}},
        {"\x1b[D", {224, 75}},
        {"\x1b[H", {224, 71}},
        {"\x1b[F", {224, 79}},
        {"\x1b[1~", {224, 71}},
        {"\x1b[7~", {224, 71}},
        {"\x1b[4~", {224, 79}},
        {"\x1b[2~", {224, 82}},
        {"\x1b[3~", {224, 83}},
        {"\x1b[5~", {224, 73}},
        {"\x1b[6~", {224, 81}},
        {"\x1bOP", {0, 59}},
        {"\x1b[[A", {0, 59}},
        {"\x1b[11~", {0, 59}},
        {"\x1b[15~", {0, 63}},
        {"\x1b[21~", {0, 68}},
        {"\x1b[23~", {224, 133}},
        {"\x1b[24~", {224, 134}},
        {"\x1b[1;5A", {224, 141}},  // Ctrl+Up
        {"\x1b[1;3B", {0, 160}},    // Alt+Down
        {"\x1b[3;5~", {224, 147}},  // Ctrl+Del
        {"\x1b[1;2P", {0, 84}},     // Shift+F1
        {"\x1b[Z", {9}},            // Shift+Tab
        {"\x1b[99~", {}},           // no such key
        {"\x1bx", {27, 'x'}},
        {"ab\x1b[Dc", {'a', 'b', 224, 75, 'c'}},
    };
    for (const KeyCase& c : cases) EXPECT_EQ(decodeAll(c.bytes), c.values) << c.bytes + 1;
}

TEST(KeyDecoder, FailedInputIsNoKey) {
    sim::NextByte failing = [](bool) { return sim::kInputFailed; };
    sim::KeyValues values;
    EXPECT_FALSE(sim::decodeKey(failing, values));
    EXPECT_EQ(values.count, 0u);
}

}  // namespace
