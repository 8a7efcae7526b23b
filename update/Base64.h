// Standard base64 (RFC 4648, with padding, no line breaks), for the
// manifest's inline signature and the release keys' PEM bodies.
#pragma once

#include <stddef.h>
#include <stdint.h>

// 0 to 63 for a base64 digit, -1 for anything else ("=" included).
int base64DigitValue(char c);

// Returns the decoded length, or 0 when text is not that or does not fit in
// outSize. Bits that padding leaves over must be zero: one text per byte string.
size_t decodeBase64(const char* text, size_t length, unsigned char* out, size_t outSize);

// Writes the base64 of bytes and a terminator; out needs 4 * ((length + 2) / 3) + 1 bytes.
void encodeBase64(const unsigned char* bytes, size_t length, char* out);
