#include "credentials/scramble.h"

#include <cstring>

#include "credentials/wipe.h"

// These three bytes are the record format: records written with other values
// cannot be read back. No key of the sequence is zero, so every byte of a
// field changes, the zero bytes after its string included.
static const unsigned char kStartKey = 0x3C;
static const unsigned char kKeyStep = 0x17;
static const unsigned char kKeyCeiling = 0xD0;

void scrambleField(unsigned char* buffer, int length) {
    unsigned char key = kStartKey;
    for (int position = 0; position < length; ++position) {
        buffer[position] ^= key;
        key = key >= kKeyCeiling ? kStartKey : static_cast<unsigned char>(key + kKeyStep);
    }
}

void scrambleText(unsigned char (&field)[CREDENTIAL_FIELD_SIZE], const char* clear) {
    unsigned char scratch[CREDENTIAL_FIELD_SIZE] = {};
    std::memcpy(scratch, clear, strnlen(clear, CREDENTIAL_FIELD_SIZE));
    scrambleField(scratch, CREDENTIAL_FIELD_SIZE);
    std::memcpy(field, scratch, CREDENTIAL_FIELD_SIZE);
}

void unscrambleText(const unsigned char (&field)[CREDENTIAL_FIELD_SIZE], char* clear) {
    unsigned char scratch[CREDENTIAL_FIELD_SIZE];
    std::memcpy(scratch, field, CREDENTIAL_FIELD_SIZE);
    scrambleField(scratch, CREDENTIAL_FIELD_SIZE);
    size_t length = strnlen(reinterpret_cast<char*>(scratch), CREDENTIAL_FIELD_SIZE);
    std::memcpy(clear, scratch, length);
    clear[length] = '\0';
    wipeSecret(scratch, CREDENTIAL_FIELD_SIZE);
}
