// SHA-256 of a local file as 64 lowercase hexadecimal characters.
#pragma once

enum { SHA256_SIZE = 32 };

// Returns 1 and writes the digest text (65 bytes with terminator) to hexOut,
// or 0 with hexOut untouched. The file is opened for reading with read
// sharing only, so a file someone is writing is refused.
int fileSha256Hex(const char* path, char* hexOut);

// Writes 32 raw digest bytes as 64 lowercase hex digits and a terminator.
void digestToHex(const unsigned char* digest, char* hexOut);
