#include "credentials/scramble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

#include "credentials/wipe.h"

namespace {

// The key sequence is the record format: stored records were written with it.
TEST(ScrambleField, PinsTheKeySequence) {
    unsigned char zeros[10] = {};
    scrambleField(zeros, sizeof zeros);
    const unsigned char keys[10] = {0x3C, 0x53, 0x6A, 0x81, 0x98, 0xAF, 0xC6, 0xDD, 0x3C, 0x53};
    EXPECT_EQ(std::memcmp(zeros, keys, sizeof keys), 0);  // 0xDD reaches the ceiling, then the start again
}

TEST(ScrambleField, TwiceGivesTheInputBack) {
    unsigned char field[CREDENTIAL_FIELD_SIZE];
    for (int i = 0; i < CREDENTIAL_FIELD_SIZE; ++i) field[i] = static_cast<unsigned char>(i * 37 + 5);
    unsigned char original[CREDENTIAL_FIELD_SIZE];
    std::memcpy(original, field, sizeof field);
    scrambleField(field, sizeof field);
    for (int i = 0; i < CREDENTIAL_FIELD_SIZE; ++i) EXPECT_NE(field[i], original[i]) << i;
    scrambleField(field, sizeof field);
    EXPECT_EQ(std::memcmp(field, original, sizeof field), 0);
}

TEST(ScrambleField, ZeroOrNegativeLengthChangesNothing) {
    unsigned char field[4] = {1, 2, 3, 4};
    scrambleField(field, 0);
    scrambleField(field, -5);
    EXPECT_EQ(field[0], 1);
    EXPECT_EQ(field[3], 4);
}

// A character equal to its key scrambles to a zero byte inside the field; the
// field is still carried whole and the text comes back.
TEST(ScrambleField, ZeroInsideAScrambledFieldIsNoEnd) {
    unsigned char field[CREDENTIAL_FIELD_SIZE] = {};
    const char clear[] = {'a', 0x53, 'b', 0};  // 0x53 is the key at position 1
    scrambleText(field, clear);
    EXPECT_EQ(field[1], 0);
    for (int i = 3; i < CREDENTIAL_FIELD_SIZE; ++i) EXPECT_NE(field[i], 0) << i;
    char back[CREDENTIAL_FIELD_SIZE + 1];
    unscrambleText(field, back);
    EXPECT_STREQ(back, clear);
}

TEST(ScrambleField, AFieldWithoutNulReadsAsAllItsBytes) {
    unsigned char field[CREDENTIAL_FIELD_SIZE];
    std::memset(field, 'x', sizeof field);
    scrambleField(field, sizeof field);
    char back[CREDENTIAL_FIELD_SIZE + 1];
    std::memset(back, '#', sizeof back);
    unscrambleText(field, back);
    EXPECT_EQ(std::strlen(back), 24u);
}

// A wipe that leaves a byte of a password, or writes anything but zeros.
TEST(WipeSecret, ClearsEveryByteAndSecretBufferAtItsEnd) {
    for (size_t size : {1u, 21u, 64u}) {
        std::vector<unsigned char> bytes(size, 0xA5);
        wipeSecret(bytes.data(), size);
        EXPECT_EQ(bytes, std::vector<unsigned char>(size, 0)) << size;
    }
    alignas(SecretBuffer<21>) unsigned char storage[sizeof(SecretBuffer<21>)];
    auto* buffer = new (storage) SecretBuffer<21>;
    std::memset(buffer->text, 'x', sizeof buffer->text);
    buffer->~SecretBuffer<21>();
    EXPECT_EQ(std::vector<unsigned char>(storage, storage + sizeof storage), std::vector<unsigned char>(sizeof storage, 0));
}

}  // namespace
