// Release signatures: an ECDSA P-256 signature over the SHA-256 of the exact
// bytes of manifest.txt, DER-encoded as `openssl dgst -sha256 -sign` writes
// it (manifest.txt.sig), checked against public keys built into the launcher.
// The parsers read outside input: they never read past the given length and
// allocate nothing.
#pragma once

#include <stddef.h>

enum {
    SIGNATURE_NUMBER_SIZE = 32,  // one P-256 coordinate or scalar, big-endian
    SIGNATURE_PAIR_SIZE = 64,    // r||s, or X||Y
    SIGNATURE_DER_MAX_SIZE = 72  // SEQUENCE of two 33-byte INTEGERs
};

// A strict DER ECDSA-Sig-Value: SEQUENCE { INTEGER r, INTEGER s } with short
// definite lengths, minimal positive integers of at most 32 significant bytes,
// neither zero, and nothing after the sequence. Returns 1 and r||s as two
// 32-byte big-endian numbers, else 0 with rs untouched.
int parseEcdsaP256DerSignature(const unsigned char* der, size_t length, unsigned char rs[SIGNATURE_PAIR_SIZE]);

// One "-----BEGIN PUBLIC KEY-----" ... "-----END PUBLIC KEY-----" block and
// nothing else (LF or CR LF line ends, the last one optional) whose base64
// body is a SubjectPublicKeyInfo for id-ecPublicKey on prime256v1 with an
// uncompressed point. Returns 1 and X||Y, else 0 with xy untouched.
int parseP256PublicKeyPem(const char* pem, size_t length, unsigned char xy[SIGNATURE_PAIR_SIZE]);

// ---- Windows (Signature_win.cpp, BCrypt). The publishing tool's Linux build
// defines verifyP256Signature with OpenSSL instead.

// 1 when rs is a valid signature of SHA-256(message) under the public key xy.
int verifyP256Signature(const unsigned char xy[SIGNATURE_PAIR_SIZE], const unsigned char* message, size_t length,
                        const unsigned char rs[SIGNATURE_PAIR_SIZE]);

// 1 when the DER signature matches the manifest's exact bytes under any of the
// release keys; 0 otherwise, and always when there are no keys.
int verifyReleaseSignature(const char* manifest, size_t manifestLength, const unsigned char* signature,
                           size_t signatureLength);

// The release keys as PEM texts. Defined in a source file that CMake generates
// for each executable (orvel_add_release_keys); tests may point it elsewhere.
extern const char* const* gReleaseKeys;
extern int gReleaseKeyCount;
