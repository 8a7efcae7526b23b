#include "update/Digest.h"

#include "shell/Text.h"

void digestToHex(const unsigned char* digest, char* hexOut) {
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < SHA256_SIZE; ++i) {
        hexOut[2 * i] = digits[digest[i] >> 4];
        hexOut[2 * i + 1] = digits[digest[i] & 15];
    }
    hexOut[2 * SHA256_SIZE] = 0;
}

int isDigestText(const char* text) {
    for (int i = 0; i < 64; ++i) {
        char c = asciiLower(text[i]);
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
    }
    return text[64] == 0;
}

static int hexDigitValue(char c) {
    c = asciiLower(c);
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int digestFromHex(const char* hex, unsigned char* digest) {
    for (int i = 0; i < SHA256_SIZE; ++i) {
        int high = hexDigitValue(hex[2 * i]);
        int low = high < 0 ? -1 : hexDigitValue(hex[2 * i + 1]);
        if (low < 0) return 0;
        digest[i] = (unsigned char)(high << 4 | low);
    }
    return hex[2 * SHA256_SIZE] == 0;
}
