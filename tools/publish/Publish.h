// orvel-publish, the operators' tool: publishes a client folder as a release
// (a store of files by digest, the files at their paths, a numbered and signed
// manifest), prunes the store, shows how the launcher reads news.txt, and
// checks a published folder against its manifest and signatures. It reads the documents, keys and
// signatures with the launcher's own code (update/Documents.cpp,
// update/Signature.cpp), so the tool and the launcher never disagree.
//
// The shared rules are declared here, each group in a file of its own; the
// commands are in commands/, one file each, declared in Commands.h.
//
// Inside the tool a relative path has "/" between names on every platform;
// the manifest has "\" instead.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "update/BlockIndex.h"
#include "update/Digest.h"
#include "update/Directives.h"
#include "update/Documents.h"
#include "update/Signature.h"

enum {
    PUBLISH_LOCAL_PATH_LIMIT = 259,          // the launcher's local paths, ".part" included
    PUBLISH_PART_SUFFIX_LENGTH = 5,          // ".part"
    PUBLISH_DEFAULT_CLIENT_DIR_LENGTH = 40,  // "C:\Program Files (x86)\Orvel Online\Game"
    PUBLISH_MIN_CLIENT_DIR_LENGTH = 2,       // "C:"
    PUBLISH_MAX_CLIENT_DIR_LENGTH = 252,     // leaves room for one character and ".part"
    PUBLISH_FOLDER_PATH_LIMIT = 247,         // the longest path CreateDirectoryA makes (248 with its terminator)
    PUBLISH_CLIENT_DIR_ROOM = 60,            // a folder that leaves less for the client folder is warned about
    PUBLISH_NEWS_CAPACITY = 4,               // the items the window shows
    PUBLISH_LINE_SIZE = 352,                 // digest, size, a 259-character path, CR LF
    PUBLISH_REASON_SIZE = 256,
    PUBLISH_MESSAGE_TEXT_SIZE = 1024,
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

// Progress of long work on a terminal; stream is null when nothing is shown.
struct PublishProgress {
    FILE* stream;
    const char* action;  // "hashing", "storing", "checking"
    uint64_t fileCount;
    uint64_t doneFiles;
    uint64_t byteCount;
    uint64_t doneBytes;
    uint64_t startMs;
    uint64_t lastDrawMs;
    size_t drawnLength;  // characters of the line on screen, 0 when none
};

// ---- Path rules (PathRules.cpp)

// 1 and a reason when path may not be published: the launcher would reject
// it, or it would not survive the trip to a Windows client folder whose path
// is clientDirLength characters long. 0 when it is fine.
int findPathRefusal(const char* path, int clientDirLength, char* reason, size_t reasonSize);

// The note for a file the manifest never lists (the launcher's own files, its
// leftovers and the server's two documents), or null.
const char* skippedPathNote(const char* path);

// The length of path's folder when that folder leaves less than
// PUBLISH_CLIENT_DIR_ROOM characters for the client folder's own path: the
// ANSI CreateDirectoryA makes no longer folder, so the launcher refuses the
// file in a longer client folder. 0 when it leaves enough.
size_t deepFolderLength(const char* path);

// "/" to "\"; 0 when it does not fit in RELATIVE_PATH_SIZE.
int toManifestPath(const char* path, char* out);

// ---- The file list (FileList.cpp)

// Byte order of the manifest form of two relative paths.
int compareManifestOrder(const char* a, const char* b);

// Sorts the list into manifest order and marks each path that is one path
// with an earlier one on Windows (letter case only), or that names a file
// where another path needs a folder.
int markCaseTwins(PublishFileList* list);

int addPublishFile(PublishFileList* list, const char* path, uint64_t size, int32_t kind);
void freePublishFileList(PublishFileList* list);

// ---- Manifest lines (ManifestLines.cpp)

// "<sha256> <size> <path>\r\n"; 0 when it does not fit.
int formatManifestLine(char* out, size_t outSize, const char* sha256, uint64_t size, const char* manifestPath);

// 1 when the launcher's parser reads line back as exactly these fields.
int manifestLineReadsBack(const char* line, const char* sha256, uint64_t size, const char* manifestPath);

struct ClientListing {
    PublishFileList list;  // every entry, in manifest order; the listed ones hashed
    char* text;            // the manifest's file lines
    size_t textLength;
    size_t listed;
    size_t skipped;
    size_t refused;
    uint64_t totalBytes;
};

// The lines of every file of a client folder, as the manifest lists them:
// each file that may not be published is named with its reason, each skipped
// one with its note, on err; so is excludedFile (may be null) under any name.
// Returns 1 with the lines; 0 when files were refused (counted in refused) or
// something else failed (told on err).
int listClientFolder(const char* root, int clientDirLength, const char* excludedFile, ClientListing* out, FILE* err);
void freeClientListing(ClientListing* listing);

enum { PUBLISH_UTC_TIME_SIZE = 21 };  // "YYYY-MM-DDTHH:MM:SSZ" and a terminator

// seconds since 1970 (UTC, not before it) as #expires writes them.
void formatUtcTime(int64_t seconds, char* out);

// ---- The store (Store.cpp): every file once at objects/<2 hex>/<sha256>
// under the published folder, and the released manifests that prune reads.

// OUT/releases/<N>.txt: the manifest of release N, as released.
static const char PUBLISH_HISTORY_FOLDER[] = "releases";

enum { PUBLISH_OBJECT_PATH_SIZE = 76 };  // "objects/" "ab/" 64 digits, terminator

// "objects/ab/<sha256>", lowercase whatever the case of sha256.
void formatObjectPath(const char* sha256, char* out);

// 1 when a path relative to objects/ is "<2 hex>/<sha256>", lowercase, with
// the digest's own first two digits as its folder.
int isObjectName(const char* relative);

// Puts source (sha256, size bytes) into the store under outRoot, unless its
// object is there: an existing one is kept, checked first (the same file as
// source, or the same size and digest). 1 when the object is right; 0 with
// the reason on err.
int storeObject(const char* outRoot, const char* source, const char* sha256, uint64_t size, PublishProgress* progress,
                FILE* err);

// ---- Block indexes (BlockIndexes.cpp): beside every stored object of at
// least PUBLISH_BLOCK_MIN_SIZE bytes, objects/<2 hex>/<sha256>.blocks
// (update/BlockIndex.h), so that launchers fetch only the blocks their old
// copies lack. Each is made by reading its object once, in pieces.

enum {
    PUBLISH_BLOCK_SIZE = BLOCK_SIZE_DEFAULT,  // 16 KiB: see README, "Block indexes"
    PUBLISH_BLOCK_MIN_SIZE = 1048576,
    PUBLISH_INDEX_PATH_SIZE = PUBLISH_OBJECT_PATH_SIZE + sizeof(BLOCK_INDEX_SUFFIX) - 1
};

enum { PUBLISH_INDEX_RIGHT, PUBLISH_INDEX_MISSING, PUBLISH_INDEX_WRONG, PUBLISH_INDEX_UNREADABLE };

// The directives that announce this tool's indexes: #blocks with its sizes.
void publishBlockDirectives(ManifestDirectives* out);

// "objects/ab/<sha256>.blocks".
void formatIndexPath(const char* sha256, char* out);

// Makes the index of the object of sha256 (size bytes) under outRoot and sets
// it against the one beside it: PUBLISH_INDEX_RIGHT when they are the same
// bytes, or when there was none and write is set and it is written now;
// PUBLISH_INDEX_MISSING, PUBLISH_INDEX_WRONG, or PUBLISH_INDEX_UNREADABLE
// when the object cannot be read whole.
int syncBlockIndex(const char* outRoot, const char* sha256, uint64_t size, int write, PublishProgress* progress);

struct ReleaseRecord {
    uint64_t number;
    char* path;  // OUT/releases/<number>.txt
};

struct ReleaseHistory {
    ReleaseRecord* records;  // in no particular order
    size_t count;
    uint64_t current;  // the number of OUT/manifest.txt; 0 when none
};

// The released manifests of outRoot and the number of its manifest.txt. 0
// with the reason on err when one does not read or holds another number than
// its name; free the history whatever the result.
int readReleaseHistory(const char* outRoot, ReleaseHistory* out, FILE* err);
uint64_t lastReleaseNumber(const ReleaseHistory* history);
void freeReleaseHistory(ReleaseHistory* history);

// ---- Progress (Progress.cpp); the hashers call addHashedBytes as they read.

// "hashing 3/40 files, 120/2048 MiB, 85.3 MiB/s": files, bytes and the speed
// since the start.
void formatProgressLine(char* out, size_t outSize, const PublishProgress* progress, uint64_t nowMs);
void startProgress(PublishProgress* progress, FILE* stream, const char* action, uint64_t fileCount, uint64_t byteCount);
void addHashedBytes(PublishProgress* progress, uint64_t bytes);
// Counts a file as done with the size it was expected to have, so the byte
// count ends at the total even when a file changed meanwhile.
void finishProgressFile(PublishProgress* progress, uint64_t bytesBefore, uint64_t size);
void clearProgress(PublishProgress* progress);

// ---- Messages and local files (LocalFiles.cpp)

int setReason(char* reason, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

// A copy fit for one message line: control bytes as \xNN, cut with "..."
// when it does not fit.
const char* escapeText(char* out, size_t outSize, const char* text, size_t length);
// escapeText of a whole path into PUBLISH_MESSAGE_TEXT_SIZE bytes.
const char* escapePath(char* out, const char* path);

// Only blanks, tabs and line ends.
int isBlankText(const char* text, size_t length);

// A folder name without trailing separators, except for "/" or "C:\".
char* copyFolderName(const char* folder);
// folder + "/" + path with "\" as "/"; Windows takes "/" as well.
char* joinLocalPath(const char* folder, const char* path);
// path + suffix in a new buffer.
char* withSuffix(const char* path, const char* suffix);

// The whole file with a terminator after it; length excludes the terminator.
char* readWholeFile(const char* path, size_t* length);

// Written beside path and moved over it, so a server never serves half a
// file; ".part" files are never listed.
int writeReplacing(const char* path, const void* bytes, size_t length);

// to becomes a hard link of from where the file system allows, else a copy
// (counted on progress); made beside and moved over, so an existing to (which
// may itself be a link of a published file) is replaced, never written into.
int linkOrCopyReplacing(const char* from, const char* to, PublishProgress* progress);

// Makes every folder on the way to the file path; 1 when its folder is there.
int makeFoldersFor(const char* path);

// ---- Signatures of manifests (Signatures.cpp)

struct PublishSigningKey;

// The key in keyPath, or null with the reason on err.
PublishSigningKey* openSigningKey(const char* keyPath, FILE* err);
int signText(PublishSigningKey* key, const char* text, size_t length, unsigned char* der, size_t* derLength, FILE* err);
enum { PUBLISH_SIGNATURE_LINE_SIZE = 16 + 4 * ((SIGNATURE_DER_MAX_SIZE + 2) / 3) };  // "#signature ..." CR LF

// Appends "#signature BASE64\r\n", the signature of the length bytes of text,
// to text, which has room for PUBLISH_SIGNATURE_LINE_SIZE more.
int appendSignatureLine(PublishSigningKey* key, char* text, size_t* length, FILE* err);
// manifestPath + ".sig", written beside and moved over.
int writeSignature(const char* manifestPath, const unsigned char* der, size_t derLength, FILE* err);
// Checks the signatures of a manifest (text, its exact bytes) by the key in
// publicKeyPath: its #signature line when it has one, and manifestPath +
// ".sig" always, as launchers built before that line fetch it. Tells each
// verdict on out; returns the number of problems.
int checkSignatures(const char* publicKeyPath, const char* manifestPath, const char* text, size_t length,
                    const ManifestDirectives* directives, FILE* out);

// ---- Platform (Walk_posix.cpp / Walk_win.cpp)

// Adds every entry under root except folders, with its path relative to root.
// Returns 0 when root cannot be listed or memory runs out.
int walkClientFolder(const char* root, PublishFileList* list);

// PUBLISH_KIND_* of path, following links, and its size for a file.
int32_t localFileKind(const char* path, uint64_t* size);

// Moves from over to, replacing to. Returns 1 on success.
int replaceFile(const char* from, const char* to);

// A new name link for the file existing; 0 where the file system has no hard
// links (or not across these two folders) or link exists.
int makeHardLink(const char* existing, const char* link);

// 1 when both paths name one file (hard links of it, or the same path).
int sameLocalFile(const char* a, const char* b);

// Makes one folder; 1 when it is there afterwards.
int makeFolder(const char* path);

int isTerminal(FILE* stream);
uint64_t monotonicMilliseconds();
// Written bytes reach the stream unchanged (no LF to CR LF).
void useBinaryOutput(FILE* stream);

// ---- Signing (Sign_openssl.cpp / Sign_win.cpp, which only refuses)
// Checking uses verifyP256Signature (update/Signature.h): the launcher's
// BCrypt code on Windows, OpenSSL natively.

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
