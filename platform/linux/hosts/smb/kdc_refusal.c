/* What a KDC's refusal of an initial ticket is on Windows. A KDC of Active
 * Directory puts the NTSTATUS it would have given an NTLM logon in the
 * error's e-data, a DER sequence of (type, value) pairs: type 3 (PA-PW-SALT
 * in a METHOD-DATA, the extended error in a TYPED-DATA) carrying the status
 * in its first four bytes, little-endian. The protocol's error number alone
 * says less: one for every refused account, one for every expired password. */
#include "platform/linux/hosts/smb/kerberos_logon.h"

#include <stdbool.h>

enum {
    kLogonFailure = 1326,
    kAccountRestriction = 1327,
    kPasswordExpired = 1330,
    kAccountLockedOut = 1909,
    kTimeSkew = 1398,
};

/* The protocol's error numbers (RFC 4120, 7.5.9). */
enum {
    kPrincipalUnknown = 6,
    kPolicy = 12,
    kClientRevoked = 18,
    kKeyExpired = 23,
    kPreauthFailed = 24,
    kBadIntegrity = 31,
    kSkew = 37,
};

static const struct {
    uint32_t status;
    uint32_t code;
} kStatusCodes[] = {
    {0xC0000064, kLogonFailure},       /* no such user */
    {0xC000006A, kLogonFailure},       /* wrong password */
    {0xC000006D, kLogonFailure},       /* logon failure */
    {0xC000006E, kAccountRestriction}, /* account restriction */
    {0xC000006F, 1328},                /* outside the logon hours */
    {0xC0000070, 1329},                /* not from this workstation */
    {0xC0000071, kPasswordExpired},    /* password expired */
    {0xC0000072, 1331},                /* account disabled */
    {0xC0000133, kTimeSkew},           /* the DC's clock differs */
    {0xC0000193, 1793},                /* account expired */
    {0xC0000224, 1907},                /* password must change */
    {0xC0000234, kAccountLockedOut},   /* locked out */
};

/* One DER element at *at within [*at, end): its tag and contents; *at moves
 * past it. False when it does not fit. */
struct Element {
    uint8_t tag;
    const uint8_t *contents;
    size_t size;
};

static bool nextElement(const uint8_t **at, const uint8_t *end, struct Element *element) {
    const uint8_t *p = *at;
    if (end - p < 2) return false;
    element->tag = *p++;
    size_t size = *p++;
    if (size & 0x80) {
        size_t bytes = size & 0x7F;
        if (bytes == 0 || bytes > 4 || (size_t)(end - p) < bytes) return false;
        size = 0;
        while (bytes--) size = size << 8 | *p++;
    }
    if ((size_t)(end - p) < size) return false;
    element->contents = p;
    element->size = size;
    *at = p + size;
    return true;
}

/* The value of a small non-negative DER INTEGER; false otherwise. */
static bool smallInteger(const struct Element *element, uint32_t *value) {
    if (element->tag != 0x02 || element->size == 0 || element->size > 4 || (element->contents[0] & 0x80)) return false;
    *value = 0;
    for (size_t i = 0; i < element->size; ++i) *value = *value << 8 | element->contents[i];
    return true;
}

/* The status of one (type, value) pair: [n] INTEGER 3, [n+1] OCTET STRING. */
static bool pairStatus(const struct Element *pair, uint32_t *status) {
    const uint8_t *at = pair->contents, *end = pair->contents + pair->size;
    struct Element typeField, valueField, type, value;
    if (pair->tag != 0x30 || !nextElement(&at, end, &typeField) || !nextElement(&at, end, &valueField)) return false;
    if ((typeField.tag & 0xE0) != 0xA0 || valueField.tag != typeField.tag + 1) return false;
    const uint8_t *inType = typeField.contents, *inValue = valueField.contents;
    uint32_t number;
    if (!nextElement(&inType, typeField.contents + typeField.size, &type) || !smallInteger(&type, &number) ||
        number != 3)
        return false;
    if (!nextElement(&inValue, valueField.contents + valueField.size, &value) || value.tag != 0x04 || value.size < 4)
        return false;
    *status = (uint32_t)value.contents[0] | (uint32_t)value.contents[1] << 8 | (uint32_t)value.contents[2] << 16 |
              (uint32_t)value.contents[3] << 24;
    return true;
}

/* Windows' code for the status the e-data carries; 0 when it carries none
 * this table knows. */
static uint32_t edataCode(const uint8_t *edata, size_t size) {
    if (!edata) return 0;
    const uint8_t *at = edata, *end = edata + size;
    struct Element sequence, pair;
    if (!nextElement(&at, end, &sequence) || sequence.tag != 0x30) return 0;
    const uint8_t *inSequence = sequence.contents, *sequenceEnd = sequence.contents + sequence.size;
    while (nextElement(&inSequence, sequenceEnd, &pair)) {
        uint32_t status;
        if (!pairStatus(&pair, &status)) continue;
        for (size_t i = 0; i < sizeof kStatusCodes / sizeof kStatusCodes[0]; ++i)
            if (kStatusCodes[i].status == status) return kStatusCodes[i].code;
    }
    return 0;
}

uint32_t kdcRefusalCode(int32_t kdcError, const uint8_t *edata, size_t size) {
    uint32_t exact = edataCode(edata, size);
    switch (kdcError) {
    case kPrincipalUnknown:
    case kBadIntegrity: return kLogonFailure;
    case kSkew: return kTimeSkew;
    case kClientRevoked: return exact ? exact : kAccountLockedOut; /* a lockout comes without a status */
    case kKeyExpired: return exact ? exact : kPasswordExpired;
    case kPreauthFailed: return exact ? exact : kLogonFailure;
    case kPolicy: return exact ? exact : kAccountRestriction;
    default: return exact ? exact : KERBEROS_UNUSABLE;
    }
}
