#include "update/Base64.h"

int base64DigitValue(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

size_t decodeBase64(const char* text, size_t length, unsigned char* out, size_t outSize) {
    if (length == 0 || length % 4 != 0) return 0;
    size_t padding = text[length - 1] == '=' ? (text[length - 2] == '=' ? 2 : 1) : 0;
    size_t decoded = length / 4 * 3 - padding;
    if (decoded > outSize) return 0;
    size_t used = 0;
    for (size_t i = 0; i < length; i += 4) {
        uint32_t group = 0;
        for (size_t j = 0; j < 4; ++j) {
            int value = i + j >= length - padding ? 0 : base64DigitValue(text[i + j]);
            if (value < 0) return 0;
            group = group << 6 | (uint32_t)value;
        }
        for (int shift = 16; shift >= 0 && used < decoded; shift -= 8) out[used++] = (unsigned char)(group >> shift);
    }
    // The bits that padding leaves over must be zero: one text per byte string.
    uint32_t lastGroup = 0;
    for (size_t j = length - 4; j < length - padding; ++j)
        lastGroup = lastGroup << 6 | (uint32_t)base64DigitValue(text[j]);
    if ((padding == 1 && (lastGroup & 0x3)) || (padding == 2 && (lastGroup & 0xf))) return 0;
    return decoded;
}

void encodeBase64(const unsigned char* bytes, size_t length, char* out) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t used = 0;
    for (size_t i = 0; i < length; i += 3) {
        uint32_t group = (uint32_t)bytes[i] << 16;
        if (i + 1 < length) group |= (uint32_t)bytes[i + 1] << 8;
        if (i + 2 < length) group |= bytes[i + 2];
        out[used++] = digits[group >> 18 & 63];
        out[used++] = digits[group >> 12 & 63];
        out[used++] = i + 1 < length ? digits[group >> 6 & 63] : '=';
        out[used++] = i + 2 < length ? digits[group & 63] : '=';
    }
    out[used] = 0;
}
