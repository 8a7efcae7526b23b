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
        // A zero byte first keeps a top bit from reading as a sign.
        size_t sign = number[skip] >> 7, length = SIGNATURE_NUMBER_SIZE - skip;
        out[used] = 0x02, out[used + 1] = (unsigned char)(sign + length), out[used + 2] = 0;
        memcpy(out + used + 2 + sign, number + skip, length);
        used += 2 + sign + length;
    }
    out[0] = 0x30, out[1] = (unsigned char)(used - 2);
    return used;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> copy(data, data + size);
    unsigned char pair[SIGNATURE_PAIR_SIZE], der[SIGNATURE_DER_MAX_SIZE];
    if (parseEcdsaP256DerSignature(copy.data(), copy.size(), pair)) {
        FUZZ_CHECK(writeDer(pair, der) == size && memcmp(der, data, size) == 0);
    }
    parseP256PublicKeyPem((const char*)copy.data(), copy.size(), pair);
    return 0;
}
