// Release-wide facts in manifest.txt: lines that begin with "#". A launcher
// that predates them skips them (their first field is not a 64-character
// digest), so a release can carry them without leaving old launchers behind.
//
//   #release N                  the release's number, 1 to 2^63-1, at most once
//   #objects                    files are fetched from the store, objects/<2 hex>/<sha256>
//   #expires YYYY-MM-DDTHH:MM:SSZ  a signed release is stale after this time (UTC)
//   #launcher SHA256 SIZE       the launcher build of this release, in the store
//   #blocks BLOCKSIZE MINSIZE   every stored file of at least MINSIZE bytes has a block
//                               index of that block size beside its object (update/BlockIndex.h)
//   #signature BASE64           the last line: DER ECDSA P-256 signature of every byte before it
//
// Unknown directives are ignored, so later releases can add more. A known one
// that does not read is noted as malformed and its value is not used: a keyed
// launcher then treats the manifest as unsigned, one without keys goes on
// without that line.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "update/Base64.h"
#include "update/Documents.h"
#include "update/Signature.h"

struct ManifestDirectives {
    uint64_t release;  // 0: none
    int32_t objects;
    int32_t hasExpires;
    int64_t expires;  // seconds since 1970-01-01 UTC
    int32_t hasLauncher;
    char launcherSha256[DIGEST_TEXT_SIZE];  // lowercase
    uint64_t launcherSize;
    int32_t hasBlocks;
    uint32_t blockSize;
    uint64_t blockMinSize;
    int32_t hasSignature;
    size_t signedLength;  // the bytes the signature covers: all before its line
    unsigned char signature[SIGNATURE_DER_MAX_SIZE];
    size_t signatureLength;
    int32_t malformed;      // directives that did not read, or a signature not on the last line
    int32_t malformedLine;  // 1-based line of the first of them, for the log
};

// Reads every directive of a manifest text of length bytes (it need not be
// terminated). Returns 1; the facts are in out.
int readManifestDirectives(const char* text, size_t length, ManifestDirectives* out);

// 1 when line (up to CR, LF or its end) is a directive line, never a file line.
inline int isDirectiveLine(const char* line) { return line[0] == '#'; }

// 1 when the release publishes a block index for a file of fileSize bytes:
// a store, a "#blocks" line whose least size the file reaches, and no more
// blocks than an index may hold.
int hasBlockIndex(const ManifestDirectives* directives, uint64_t fileSize);

// "YYYY-MM-DDTHH:MM:SSZ", a real date and time of day: seconds since 1970.
int parseUtcTime(const char* text, size_t length, int64_t* seconds);

// A release number as the kept-release file holds it: decimal digits, 1 to
// 2^63-1, optionally followed by a line end. 0 when text is not that.
uint64_t parseReleaseNumber(const char* text, size_t length);
