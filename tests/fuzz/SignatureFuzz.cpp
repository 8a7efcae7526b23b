// The release signature and the key readers, each on an exactly sized copy
// of the input without a terminator.
#include "tests/fuzz/Fuzz.h"
#include "update/Signature.h"

// Strict DER has one encoding for each value: r||s written back as DER.
static size_t writeDer(const unsigned char* rs, unsigned char* out) {
    size_t used = 2;
    for (const unsigned char* number = rs; number < rs + SIGNATURE_PAIR_SIZE; number += SIGNATURE_NUMBER_SIZE) {
        size_t skip = 0;
        while (skip + 1 < SIGNATURE_NUMBER_SIZE && number[skip] == 0) ++skip;
        size_t sign = number[skip] >> 7;  // a zero byte keeps a top bit from reading as a sign
        out[used++] = 0x02;
        out[used++] = (unsigned char)(SIGNATURE_NUMBER_SIZE - skip + sign);
        if (sign) out[used++] = 0;
        memcpy(out + used, number + skip, SIGNATURE_NUMBER_SIZE - skip);
        used += SIGNATURE_NUMBER_SIZE - skip;
    }
    out[0] = 0x30;
    out[1] = (unsigned char)(used - 2);
    return used;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> copy(data, data + size);
    unsigned char pair[SIGNATURE_PAIR_SIZE], der[SIGNATURE_DER_MAX_SIZE + 2];
    if (parseEcdsaP256DerSignature(copy.data(), copy.size(), pair)) {
        FUZZ_CHECK(writeDer(pair, der) == size && memcmp(der, data, size) == 0);
    }
    parseP256PublicKeyPem((const char*)copy.data(), copy.size(), pair);
    return 0;
}
