#include <windows.h>
#include <bcrypt.h>

#include <stdlib.h>

#include "update/Digest.h"

int sha256Begin(Sha256* digest) {
    *digest = Sha256{};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return 0;
    digest->algorithm = algorithm;
    // No hash-object buffer: the provider allocates its own.
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) return 0;
    digest->hash = hash;
    return 1;
}

int sha256Add(Sha256* digest, const void* bytes, size_t length) {
    while (length > 0) {
        ULONG chunk = length > 0x40000000 ? 0x40000000 : (ULONG)length;
        if (BCryptHashData((BCRYPT_HASH_HANDLE)digest->hash, (PUCHAR)bytes, chunk, 0) != 0) return 0;
        bytes = (const char*)bytes + chunk;
        length -= chunk;
    }
    return 1;
}

int sha256Finish(Sha256* digest, char* hexOut) {
    unsigned char raw[SHA256_SIZE];
    if (BCryptFinishHash((BCRYPT_HASH_HANDLE)digest->hash, raw, SHA256_SIZE, 0) != 0) return 0;
    digestToHex(raw, hexOut);
    return 1;
}

void sha256End(Sha256* digest) {
    if (digest->hash) BCryptDestroyHash((BCRYPT_HASH_HANDLE)digest->hash);
    if (digest->algorithm) BCryptCloseAlgorithmProvider((BCRYPT_ALG_HANDLE)digest->algorithm, 0);
    *digest = Sha256{};
}

int sha256AddFile(Sha256* digest, void* file, unsigned long long length, void* buffer, size_t bufferSize) {
    while (length > 0) {
        DWORD wanted = length < bufferSize ? (DWORD)length : (DWORD)bufferSize;
        DWORD bytesRead = 0;
        if (!ReadFile((HANDLE)file, buffer, wanted, &bytesRead, nullptr) || bytesRead == 0) return 0;
        if (!sha256Add(digest, buffer, bytesRead)) return 0;
        length -= bytesRead;
    }
    return 1;
}

int fileSha256Hex(const char* path, char* hexOut) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;

    int result = 0;
    Sha256 digest = {};
    unsigned char* buffer = (unsigned char*)malloc(DIGEST_READ_BUFFER_SIZE);
    if (!buffer || !sha256Begin(&digest)) goto cleanup;
    for (;;) {
        DWORD bytesRead = 0;
        // A read error ends the input like the end of the file: the caller
        // then sees a digest that does not match.
        if (!ReadFile(file, buffer, DIGEST_READ_BUFFER_SIZE, &bytesRead, nullptr) || bytesRead == 0) break;
        if (!sha256Add(&digest, buffer, bytesRead)) goto cleanup;
    }
    result = sha256Finish(&digest, hexOut);

cleanup:
    sha256End(&digest);
    free(buffer);
    CloseHandle(file);
    return result;
}
