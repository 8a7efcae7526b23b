#include <openssl/evp.h>

#include <stdio.h>
#include <stdlib.h>

#include "tools/publish/Publish.h"
#include "update/Digest.h"

enum { PUBLISH_HASH_BLOCK_SIZE = 1048576 };

int hashLocalFile(const char* path, char* hexOut, uint64_t* hashedSize, PublishProgress* progress) {
    FILE* file = fopen(path, "rb");
    if (!file) return 0;
    int result = 0;
    uint64_t total = 0;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    unsigned char* buffer = (unsigned char*)malloc(PUBLISH_HASH_BLOCK_SIZE);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!buffer || !context || !EVP_DigestInit_ex(context, EVP_sha256(), nullptr)) goto cleanup;
    for (;;) {
        size_t n = fread(buffer, 1, PUBLISH_HASH_BLOCK_SIZE, file);
        if (n == 0) break;
        if (!EVP_DigestUpdate(context, buffer, n)) goto cleanup;
        total += n;
        addHashedBytes(progress, n);
    }
    // Unlike the end of the file, a read error must not pass for a digest.
    if (ferror(file)) goto cleanup;
    if (!EVP_DigestFinal_ex(context, digest, &digestLength) || digestLength != SHA256_SIZE) goto cleanup;
    digestToHex(digest, hexOut);
    *hashedSize = total;
    result = 1;

cleanup:
    EVP_MD_CTX_free(context);
    free(buffer);
    fclose(file);
    return result;
}
