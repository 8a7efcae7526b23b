#include <windows.h>
#include <bcrypt.h>

#include <string.h>

#include "update/Digest.h"
#include "update/Signature.h"

// BCrypt takes ULONG lengths: a longer message is hashed in parts.
static const size_t SIGNATURE_HASH_PART_SIZE = 0x40000000;

static int sha256OfBytes(const unsigned char* message, size_t length, unsigned char* digest) {
    int result = 0;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        algorithm = nullptr;
        goto cleanup;
    }
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        hash = nullptr;
        goto cleanup;
    }
    for (size_t done = 0; done < length;) {
        size_t part = length - done < SIGNATURE_HASH_PART_SIZE ? length - done : SIGNATURE_HASH_PART_SIZE;
        if (BCryptHashData(hash, (PUCHAR)(message + done), (ULONG)part, 0) != 0) goto cleanup;
        done += part;
    }
    if (BCryptFinishHash(hash, digest, SHA256_SIZE, 0) != 0) goto cleanup;
    result = 1;

cleanup:
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    return result;
}

static int verifyP256Digest(const unsigned char* xy, const unsigned char* digest, const unsigned char* rs) {
    int result = 0;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, SIGNATURE_NUMBER_SIZE};
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + SIGNATURE_PAIR_SIZE];
    memcpy(blob, &header, sizeof(header));
    memcpy(blob + sizeof(header), xy, SIGNATURE_PAIR_SIZE);
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
        algorithm = nullptr;
        goto cleanup;
    }
    // A point off the curve fails here or in the check below.
    if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof(blob), 0) != 0) {
        key = nullptr;
        goto cleanup;
    }
    result = BCryptVerifySignature(key, nullptr, (PUCHAR)digest, SHA256_SIZE, (PUCHAR)rs, SIGNATURE_PAIR_SIZE, 0) == 0;

cleanup:
    if (key) BCryptDestroyKey(key);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    return result;
}

int verifyP256Signature(const unsigned char xy[SIGNATURE_PAIR_SIZE], const unsigned char* message, size_t length,
                        const unsigned char rs[SIGNATURE_PAIR_SIZE]) {
    unsigned char digest[SHA256_SIZE];
    return sha256OfBytes(message, length, digest) && verifyP256Digest(xy, digest, rs);
}

int verifyReleaseSignature(const char* manifest, size_t manifestLength, const unsigned char* signature,
                           size_t signatureLength) {
    unsigned char rs[SIGNATURE_PAIR_SIZE], digest[SHA256_SIZE], xy[SIGNATURE_PAIR_SIZE];
    if (gReleaseKeyCount <= 0 || !parseEcdsaP256DerSignature(signature, signatureLength, rs)) return 0;
    if (!sha256OfBytes((const unsigned char*)manifest, manifestLength, digest)) return 0;
    for (int i = 0; i < gReleaseKeyCount; ++i) {
        // The build accepts only keys that parse; one that does not signs nothing.
        if (!parseP256PublicKeyPem(gReleaseKeys[i], strlen(gReleaseKeys[i]), xy)) continue;
        if (verifyP256Digest(xy, digest, rs)) return 1;
    }
    return 0;
}
