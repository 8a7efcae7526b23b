// SHA-256 through the platform's cryptography primitives: of a local file,
// or of bytes as they arrive.
#pragma once

#include <stddef.h>

enum { SHA256_SIZE = 32, DIGEST_READ_BUFFER_SIZE = 65536 };

// Returns 1 and writes the digest text (65 bytes with terminator) to hexOut,
// or 0 with hexOut untouched. The file is opened for reading with read
// sharing only, so a file someone is writing is refused.
int fileSha256Hex(const char* path, char* hexOut);

// An incremental digest. sha256Begin returns 0 when the platform cannot make
// one; sha256End releases it whatever happened in between (also after a
// failed begin).
struct Sha256 {
    void* algorithm;
    void* hash;
};
int sha256Begin(Sha256* digest);
int sha256Add(Sha256* digest, const void* bytes, size_t length);
// Writes the digest text of everything added; 1 on success.
int sha256Finish(Sha256* digest, char* hexOut);
void sha256End(Sha256* digest);

// Adds the first length bytes of an open file (a HANDLE) to digest, reading
// through buffer; 1 when all of them were read and added.
int sha256AddFile(Sha256* digest, void* file, unsigned long long length, void* buffer, size_t bufferSize);

// 1 for 64 hexadecimal digits of either case and nothing more.
int isDigestText(const char* text);

// Writes 32 raw digest bytes as 64 lowercase hex digits and a terminator.
void digestToHex(const unsigned char* digest, char* hexOut);

// The 32 raw bytes of a digest text (64 hex digits of either case and
// nothing more); 0 when it is not one, digest then undefined.
int digestFromHex(const char* hex, unsigned char* digest);
