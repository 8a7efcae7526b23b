#include "update/Signature.h"

#include <string.h>

#include "update/Base64.h"

enum {
    SIGNATURE_DER_SEQUENCE = 0x30,
    SIGNATURE_DER_INTEGER = 0x02,
    SIGNATURE_DER_LONG_LENGTH = 0x80,  // set in a length byte: the long form
    SIGNATURE_SPKI_SIZE = 91,          // header and X||Y
    SIGNATURE_SPKI_HEADER_SIZE = 27,
    SIGNATURE_SPKI_BASE64_SIZE = 124  // 91 bytes: 30 full groups and "xx=="
};

static const char SIGNATURE_PEM_BEGIN[] = "-----BEGIN PUBLIC KEY-----";
static const char SIGNATURE_PEM_END[] = "-----END PUBLIC KEY-----";

// SEQUENCE { SEQUENCE { OID id-ecPublicKey, OID prime256v1 }, BIT STRING
// { 0 unused bits, 0x04 (uncompressed point) ... } }: every P-256 key in this
// form starts with these bytes, so comparing them checks the whole structure.
static const unsigned char SIGNATURE_SPKI_HEADER[SIGNATURE_SPKI_HEADER_SIZE] = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
    0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// One INTEGER at der[*offset], ending by end, as a 32-byte big-endian number.
static int readDerNumber(const unsigned char* der, size_t end, size_t* offset, unsigned char* number) {
    size_t at = *offset;
    if (end - at < 2 || der[at] != SIGNATURE_DER_INTEGER) return 0;
    size_t length = der[at + 1];
    at += 2;
    if ((length & SIGNATURE_DER_LONG_LENGTH) || length == 0 || length > end - at) return 0;
    *offset = at + length;
    const unsigned char* bytes = der + at;
    if (bytes[0] & 0x80) return 0;  // negative
    if (bytes[0] == 0) {
        // A leading zero only keeps the next byte's top bit from reading as a
        // sign; alone it is the number zero, which no signature holds.
        if (length == 1 || !(bytes[1] & 0x80)) return 0;
        ++bytes;
        --length;
    }
    if (length > SIGNATURE_NUMBER_SIZE) return 0;
    memset(number, 0, SIGNATURE_NUMBER_SIZE - length);
    memcpy(number + SIGNATURE_NUMBER_SIZE - length, bytes, length);
    return 1;
}

int parseEcdsaP256DerSignature(const unsigned char* der, size_t length, unsigned char rs[SIGNATURE_PAIR_SIZE]) {
    unsigned char pair[SIGNATURE_PAIR_SIZE];
    size_t offset = 2;
    if (length < 2 || der[0] != SIGNATURE_DER_SEQUENCE || (der[1] & SIGNATURE_DER_LONG_LENGTH) ||
        der[1] != length - 2) {
        return 0;
    }
    if (!readDerNumber(der, length, &offset, pair)) return 0;
    if (!readDerNumber(der, length, &offset, pair + SIGNATURE_NUMBER_SIZE)) return 0;
    if (offset != length) return 0;
    memcpy(rs, pair, SIGNATURE_PAIR_SIZE);
    return 1;
}

static int startsAt(const char* text, size_t length, size_t at, const char* prefix) {
    size_t prefixLength = strlen(prefix);
    return length - at >= prefixLength && memcmp(text + at, prefix, prefixLength) == 0;
}

// 1 for LF, 2 for CR LF at text[at], 0 for anything else.
static size_t lineBreakAt(const char* text, size_t length, size_t at) {
    if (at < length && text[at] == '\n') return 1;
    if (length - at >= 2 && text[at] == '\r' && text[at + 1] == '\n') return 2;
    return 0;
}

int parseP256PublicKeyPem(const char* pem, size_t length, unsigned char xy[SIGNATURE_PAIR_SIZE]) {
    char body[SIGNATURE_SPKI_BASE64_SIZE];
    unsigned char key[SIGNATURE_SPKI_SIZE];
    size_t bodyLength = 0;
    if (!startsAt(pem, length, 0, SIGNATURE_PEM_BEGIN)) return 0;
    size_t at = sizeof(SIGNATURE_PEM_BEGIN) - 1;
    size_t lineBreak = lineBreakAt(pem, length, at);
    if (!lineBreak) return 0;
    at += lineBreak;
    // Body lines of any width up to the end line.
    while (!startsAt(pem, length, at, SIGNATURE_PEM_END)) {
        size_t lineStart = at;
        while (at < length && (base64DigitValue(pem[at]) >= 0 || pem[at] == '=')) {
            if (bodyLength == SIGNATURE_SPKI_BASE64_SIZE) return 0;
            body[bodyLength++] = pem[at++];
        }
        lineBreak = lineBreakAt(pem, length, at);
        if (at == lineStart || !lineBreak) return 0;
        at += lineBreak;
    }
    at += sizeof(SIGNATURE_PEM_END) - 1;
    if (at < length && at + lineBreakAt(pem, length, at) != length) return 0;
    if (bodyLength != SIGNATURE_SPKI_BASE64_SIZE || decodeBase64(body, sizeof(body), key, sizeof(key)) != sizeof(key))
        return 0;
    if (memcmp(key, SIGNATURE_SPKI_HEADER, SIGNATURE_SPKI_HEADER_SIZE) != 0) return 0;
    memcpy(xy, key + SIGNATURE_SPKI_HEADER_SIZE, SIGNATURE_PAIR_SIZE);
    return 1;
}
