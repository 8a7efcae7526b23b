// orvel-publish, the operators' tool: writes manifest.txt for a client folder,
// signs it, shows how the launcher reads news.txt, and checks a published
// folder against its manifest and signature. It reads the documents, keys and
// signatures with the launcher's own code (update/Documents.cpp,
// update/Signature.cpp), so the tool and the launcher never disagree.
//
// Inside the tool a relative path has "/" between names on every platform;
// the manifest has "\" instead.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "update/Documents.h"

enum {
    PUBLISH_LOCAL_PATH_LIMIT = 259,          // the launcher's local paths, ".part" included
    PUBLISH_PART_SUFFIX_LENGTH = 5,          // ".part"
    PUBLISH_DEFAULT_CLIENT_DIR_LENGTH = 40,  // "C:\Program Files (x86)\Orvel Online\Game"
    PUBLISH_MIN_CLIENT_DIR_LENGTH = 2,       // "C:"
    PUBLISH_MAX_CLIENT_DIR_LENGTH = 252,     // leaves room for one character and ".part"
    PUBLISH_NEWS_CAPACITY = 4,               // the items the window shows
    PUBLISH_LINE_SIZE = 352,                 // digest, size, a 259-character path, CR LF
    PUBLISH_REASON_SIZE = 256,
    PUBLISH_WALK_PATH_SIZE = 4096,
    PUBLISH_PROGRESS_INTERVAL_MS = 100,
    PUBLISH_PROGRESS_LINE_SIZE = 96
};

enum { PUBLISH_EXIT_OK = 0, PUBLISH_EXIT_PROBLEM = 1, PUBLISH_EXIT_USAGE = 2 };

enum {
    PUBLISH_KIND_FILE,
    PUBLISH_KIND_LINK,
    PUBLISH_KIND_OTHER,       // a device, pipe or socket
    PUBLISH_KIND_UNREADABLE,  // a folder that could not be listed, or a path too long to list
    PUBLISH_KIND_MISSING
};

enum { PUBLISH_NO_TWIN = -1 };

struct PublishFile {
    char* path;  // relative, "/" between names; owned by the list
    uint64_t size;
    int32_t kind;  // PUBLISH_KIND_*
    int32_t twin;  // index of a path that is the same one on Windows, or PUBLISH_NO_TWIN
    int32_t twinIsFolder;
    char sha256[DIGEST_TEXT_SIZE];
};

struct PublishFileList {
    PublishFile* files;
    size_t count;
    size_t capacity;
};

// Hashing progress on a terminal; stream is null when nothing is shown.
struct PublishProgress {
    FILE* stream;
    uint64_t fileCount;
    uint64_t doneFiles;
    uint64_t byteCount;
    uint64_t doneBytes;
    uint64_t lastDrawMs;
    size_t drawnLength;  // characters of the line on screen, 0 when none
};

// ---- Rules (Publish.cpp, no platform calls)

// 1 and a reason when path may not be published: the launcher would reject
// it, or it would not survive the trip to a Windows client folder whose path
// is clientDirLength characters long. 0 when it is fine.
int findPathRefusal(const char* path, int clientDirLength, char* reason, size_t reasonSize);

// The note for a file the manifest never lists (the launcher's own files, its
// leftovers and the server's two documents), or null.
const char* skippedPathNote(const char* path);

// "/" to "\"; 0 when it does not fit in RELATIVE_PATH_SIZE.
int toManifestPath(const char* path, char* out);

// Byte order of the manifest form of two relative paths.
int compareManifestOrder(const char* a, const char* b);

// Sorts the list into manifest order and marks each path that is one path
// with an earlier one on Windows (letter case only), or that names a file
// where another path needs a folder.
int markCaseTwins(PublishFileList* list);

// "<sha256> <size> <path>\r\n"; 0 when it does not fit.
int formatManifestLine(char* out, size_t outSize, const char* sha256, uint64_t size, const char* manifestPath);

// 1 when the launcher's parser reads line back as exactly these fields.
int manifestLineReadsBack(const char* line, const char* sha256, uint64_t size, const char* manifestPath);

// 1 for 64 hexadecimal digits of either case.
int isDigestText(const char* text);

void formatProgressLine(char* out, size_t outSize, const PublishProgress* progress);

int addPublishFile(PublishFileList* list, const char* path, uint64_t size, int32_t kind);
void freePublishFileList(PublishFileList* list);

// ---- Progress (Publish.cpp); the hashers call addHashedBytes as they read.
void addHashedBytes(PublishProgress* progress, uint64_t bytes);
void clearProgress(PublishProgress* progress);

// ---- Commands (Publish.cpp); each returns its exit status.
// keyPath and publicKeyPath may be null: no signature written or checked.
int runPublish(int argc, char** argv, FILE* out, FILE* err);
int publishManifest(const char* clientDir, const char* outputPath, int clientDirLength, const char* keyPath, FILE* out,
                    FILE* err);
int checkNews(const char* newsPath, FILE* out, FILE* err);
int verifyPublished(const char* folder, const char* manifestPath, const char* publicKeyPath, FILE* out, FILE* err);
int makeKeys(const char* name, FILE* out, FILE* err);
int signPublished(const char* folder, const char* keyPath, FILE* out, FILE* err);

// ---- Platform (Walk_posix.cpp / Walk_win.cpp)

// Adds every entry under root except folders, with its path relative to root.
// Returns 0 when root cannot be listed or memory runs out.
int walkClientFolder(const char* root, PublishFileList* list);

// PUBLISH_KIND_* of path, following links, and its size for a file.
int32_t localFileKind(const char* path, uint64_t* size);

// Moves from over to, replacing to. Returns 1 on success.
int replaceFile(const char* from, const char* to);

int isTerminal(FILE* stream);
uint64_t monotonicMilliseconds();
// Written bytes reach the stream unchanged (no LF to CR LF).
void useBinaryOutput(FILE* stream);

// ---- Signing (Sign_openssl.cpp / Sign_win.cpp, which only refuses)
// Checking uses verifyP256Signature (update/Signature.h): the launcher's
// BCrypt code on Windows, OpenSSL natively.

struct PublishSigningKey;

// A new P-256 pair: keyPath, the private key (PEM, owner-only from the start),
// and publicPath (PEM SubjectPublicKeyInfo). Never replaces a file; on failure
// neither is left behind. 0 and a reason on failure.
int makeKeyPair(const char* keyPath, const char* publicPath, char* reason, size_t reasonSize);

// The private key in keyPath, or null and a reason.
PublishSigningKey* loadSigningKey(const char* keyPath, char* reason, size_t reasonSize);

// The DER signature of SHA-256(message), at most SIGNATURE_DER_MAX_SIZE bytes,
// as `openssl dgst -sha256 -sign` makes it.
int signMessage(PublishSigningKey* key, const unsigned char* message, size_t length, unsigned char* der,
                size_t* derLength);
void freeSigningKey(PublishSigningKey* key);

// ---- Hashing (Hash_openssl.cpp / Hash_win.cpp)

// Returns 1 with the digest text and the number of bytes hashed, 0 when the
// file cannot be read.
int hashLocalFile(const char* path, char* hexOut, uint64_t* hashedSize, PublishProgress* progress);
