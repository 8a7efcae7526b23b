#include "update/Digest.h"

void digestToHex(const unsigned char* digest, char* hexOut) {
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < SHA256_SIZE; ++i) {
        hexOut[2 * i] = digits[digest[i] >> 4];
        hexOut[2 * i + 1] = digits[digest[i] & 15];
    }
    hexOut[2 * SHA256_SIZE] = 0;
}
