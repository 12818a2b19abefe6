// The scrambling of a role record's credential fields: never kept in clear
// text, scrambled and unscrambled by the same routine.
#pragma once

#include "store/role_record.h"

// XORs each byte with a key that depends only on its position: the same call
// scrambles and unscrambles. A length of 0 or less changes nothing.
void scrambleField(unsigned char* buffer, int length);

// A clear-text string (up to 24 bytes are taken) into a scrambled 24-byte
// record field, the bytes after the string zero before scrambling.
void scrambleText(unsigned char (&field)[CREDENTIAL_FIELD_SIZE], const char* clear);

// A scrambled record field into clear text: clear (at least 25 bytes) gets
// the string, all 24 bytes of it when the field holds no NUL.
void unscrambleText(const unsigned char (&field)[CREDENTIAL_FIELD_SIZE], char* clear);
