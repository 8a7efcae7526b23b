#include <windows.h>
#include <bcrypt.h>

#include <stdlib.h>

#include "update/Digest.h"

enum { DIGEST_READ_BUFFER_SIZE = 65536 };

int fileSha256Hex(const char* path, char* hexOut) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;

    int result = 0;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[SHA256_SIZE];
    unsigned char* buffer = (unsigned char*)malloc(DIGEST_READ_BUFFER_SIZE);
    if (!buffer) goto cleanup;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        algorithm = nullptr;
        goto cleanup;
    }
    // No hash-object buffer: the provider allocates its own.
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        hash = nullptr;
        goto cleanup;
    }
    for (;;) {
        DWORD bytesRead = 0;
        // A read error ends the input like the end of the file: the caller
        // then sees a digest that does not match.
        if (!ReadFile(file, buffer, DIGEST_READ_BUFFER_SIZE, &bytesRead, nullptr) || bytesRead == 0) break;
        if (BCryptHashData(hash, buffer, bytesRead, 0) != 0) goto cleanup;
    }
    if (BCryptFinishHash(hash, digest, SHA256_SIZE, 0) != 0) goto cleanup;
    digestToHex(digest, hexOut);
    result = 1;

cleanup:
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    free(buffer);
    CloseHandle(file);
    return result;
}
