#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tools/publish/Publish.h"
#include "update/Signature.h"

// Opened with its final mode from the start; an existing file is never used.
static FILE* createNewFile(const char* path, mode_t mode, char* reason, size_t reasonSize) {
    int descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (descriptor < 0) {
        if (errno == EEXIST) {
            snprintf(reason, reasonSize, "%s already exists; keygen never replaces a key", path);
        } else {
            snprintf(reason, reasonSize, "cannot create %s: %s", path, strerror(errno));
        }
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "wb");
    if (!file) {
        snprintf(reason, reasonSize, "cannot write %s", path);
        close(descriptor);
    }
    return file;
}

static int closeWritten(FILE** file) {
    int ok = fclose(*file) == 0;
    *file = nullptr;
    return ok;
}

int makeKeyPair(const char* keyPath, const char* publicPath, char* reason, size_t reasonSize) {
    int result = 0, keyCreated = 0, publicCreated = 0;
    FILE* keyFile = nullptr;
    FILE* publicFile = nullptr;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) {
        snprintf(reason, reasonSize, "OpenSSL cannot make a P-256 key");
        goto cleanup;
    }
    // Only its owner may ever read the private key, from its first byte on.
    keyFile = createNewFile(keyPath, 0600, reason, reasonSize);
    if (!keyFile) goto cleanup;
    keyCreated = 1;
    publicFile = createNewFile(publicPath, 0644, reason, reasonSize);
    if (!publicFile) goto cleanup;
    publicCreated = 1;
    if (!PEM_write_PrivateKey(keyFile, key, nullptr, nullptr, 0, nullptr, nullptr) || !closeWritten(&keyFile) ||
        !PEM_write_PUBKEY(publicFile, key) || !closeWritten(&publicFile)) {
        snprintf(reason, reasonSize, "cannot write the key files");
        goto cleanup;
    }
    result = 1;

cleanup:
    if (keyFile) fclose(keyFile);
    if (publicFile) fclose(publicFile);
    // Half a key pair is of no use and must not be mistaken for one.
    if (!result && keyCreated) remove(keyPath);
    if (!result && publicCreated) remove(publicPath);
    EVP_PKEY_free(key);
    return result;
}

struct PublishSigningKey {
    EVP_PKEY* key;
};

PublishSigningKey* loadSigningKey(const char* keyPath, char* reason, size_t reasonSize) {
    PublishSigningKey* loaded = nullptr;
    char group[16] = "";
    EVP_PKEY* key = nullptr;
    FILE* file = fopen(keyPath, "rb");
    if (!file) {
        snprintf(reason, reasonSize, "cannot read %s: %s", keyPath, strerror(errno));
        goto cleanup;
    }
    // An encrypted key asks for its pass phrase on the terminal.
    key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    if (!key) {
        snprintf(reason, reasonSize,
                 "cannot read a private key from %s (not a PEM private key, or a wrong pass phrase)", keyPath);
        goto cleanup;
    }
    if (!EVP_PKEY_is_a(key, "EC") || !EVP_PKEY_get_group_name(key, group, sizeof(group), nullptr) ||
        strcmp(group, "prime256v1") != 0) {
        snprintf(reason, reasonSize, "%s is not an ECDSA P-256 private key in PEM form", keyPath);
        goto cleanup;
    }
    loaded = (PublishSigningKey*)malloc(sizeof(PublishSigningKey));
    if (!loaded) {
        snprintf(reason, reasonSize, "out of memory");
        goto cleanup;
    }
    loaded->key = key;
    key = nullptr;

cleanup:
    EVP_PKEY_free(key);
    if (file) fclose(file);
    return loaded;
}

int signMessage(PublishSigningKey* key, const unsigned char* message, size_t length, unsigned char* der,
                size_t* derLength) {
    size_t size = SIGNATURE_DER_MAX_SIZE;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    int result = context && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key->key) == 1 &&
                 EVP_DigestSign(context, der, &size, message, length) == 1;
    EVP_MD_CTX_free(context);
    if (result) *derLength = size;
    return result;
}

void freeSigningKey(PublishSigningKey* key) {
    if (!key) return;
    EVP_PKEY_free(key->key);
    free(key);
}

// The launcher's check made with OpenSSL: the same key and signature numbers,
// put back into the forms OpenSSL takes.
int verifyP256Signature(const unsigned char xy[SIGNATURE_PAIR_SIZE], const unsigned char* message, size_t length,
                        const unsigned char rs[SIGNATURE_PAIR_SIZE]) {
    int result = 0, derLength = 0;
    unsigned char point[1 + SIGNATURE_PAIR_SIZE] = {0x04};  // uncompressed
    char group[] = "prime256v1";
    unsigned char* der = nullptr;
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* keyContext = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ECDSA_SIG* signature = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(rs, SIGNATURE_NUMBER_SIZE, nullptr);
    BIGNUM* s = BN_bin2bn(rs + SIGNATURE_NUMBER_SIZE, SIGNATURE_NUMBER_SIZE, nullptr);
    memcpy(point + 1, xy, SIGNATURE_PAIR_SIZE);
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                           OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point)),
                           OSSL_PARAM_construct_end()};
    if (!keyContext || !context || !signature || !r || !s) goto cleanup;
    // OpenSSL refuses a point off the curve here.
    if (EVP_PKEY_fromdata_init(keyContext) != 1 ||
        EVP_PKEY_fromdata(keyContext, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
        goto cleanup;
    }
    if (!ECDSA_SIG_set0(signature, r, s)) goto cleanup;
    r = s = nullptr;  // the signature owns them now
    derLength = i2d_ECDSA_SIG(signature, &der);
    if (derLength <= 0) goto cleanup;
    result = EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
             EVP_DigestVerify(context, der, (size_t)derLength, message, length) == 1;

cleanup:
    OPENSSL_free(der);
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(signature);
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(keyContext);
    return result;
}
