#include "tools/publish/Publish.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "shell/Text.h"
#include "update/ClientPath.h"
#include "update/PathSet.h"
#include "update/Signature.h"

enum {
    PUBLISH_MESSAGE_TEXT_SIZE = 1024,
    PUBLISH_FIRST_LIST_CAPACITY = 256,
    PUBLISH_READ_BLOCK_SIZE = 65536,
    PUBLISH_MIB = 1048576
};

static const char* const PUBLISH_USAGE =
    "usage: orvel-publish COMMAND ARGUMENTS\n"
    "\n"
    "  keygen NAME\n"
    "      Makes a release signing key pair: NAME.key, the private key (readable\n"
    "      by you alone; keep it offline), and NAME.pub, the public key to build\n"
    "      the launcher with. Never replaces a file.\n"
    "  manifest CLIENT_DIR [-o FILE] [--client-dir-length N] [--key NAME.key]\n"
    "      Writes the manifest of every file under CLIENT_DIR to FILE (default\n"
    "      CLIENT_DIR/manifest.txt, \"-\" for standard output). Writes nothing and\n"
    "      names each file when a name would not work on a player's Windows PC.\n"
    "      N: length of the players' client folder path (default 40).\n"
    "      --key: also signs it, into FILE.sig.\n"
    "  sign CLIENT_DIR --key NAME.key\n"
    "      Signs CLIENT_DIR/manifest.txt as it is, into CLIENT_DIR/manifest.txt.sig\n"
    "      (the same as: openssl dgst -sha256 -sign NAME.key -out manifest.txt.sig\n"
    "      manifest.txt).\n"
    "  check-news FILE\n"
    "      Shows what the launcher's window makes of news.txt and what it\n"
    "      ignores or cuts.\n"
    "  verify FOLDER [--manifest FILE] [--pub NAME.pub]\n"
    "      Checks the files in FOLDER against a manifest (default\n"
    "      FOLDER/manifest.txt). --pub: also checks that FILE.sig is its\n"
    "      signature by that key.\n"
    "\n"
    "Exit status: 0 all good, 1 problems found, 2 wrong command line.\n";

// ---- Small helpers

static int setReason(char* reason, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

static int setReason(char* reason, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(reason, size, format, args);
    va_end(args);
    return 1;
}

// A copy fit for one message line: control bytes as \xNN, cut with "..."
// when it does not fit.
static const char* escapeText(char* out, size_t outSize, const char* text, size_t length) {
    static const char digits[] = "0123456789abcdef";
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)text[i];
        size_t need = (c < 32 || c == 127) ? 4 : 1;
        if (used + need + 4 > outSize) {
            memcpy(out + used, "...", 3);
            used += 3;
            break;
        }
        if (need == 4) {
            out[used++] = '\\';
            out[used++] = 'x';
            out[used++] = digits[c >> 4];
            out[used++] = digits[c & 15];
        } else {
            out[used++] = (char)c;
        }
    }
    out[used] = 0;
    return out;
}

static const char* escapePath(char* out, const char* path) {
    return escapeText(out, PUBLISH_MESSAGE_TEXT_SIZE, path, strlen(path));
}

static int isSeparator(char c) { return c == '/' || c == '\\'; }

// A folder name without trailing separators, except for "/" or "C:\".
static char* copyFolderName(const char* folder) {
    size_t length = strlen(folder);
    while (length > 1 && isSeparator(folder[length - 1]) && folder[length - 2] != ':') --length;
    char* copy = (char*)malloc(length + 1);
    if (!copy) return nullptr;
    memcpy(copy, folder, length);
    copy[length] = 0;
    return copy;
}

// folder + "/" + path with "\" as "/"; Windows takes "/" as well.
static char* joinLocalPath(const char* folder, const char* path) {
    size_t folderLength = strlen(folder);
    size_t pathLength = strlen(path);
    char* joined = (char*)malloc(folderLength + pathLength + 2);
    if (!joined) return nullptr;
    memcpy(joined, folder, folderLength);
    size_t used = folderLength;
    if (used > 0 && !isSeparator(joined[used - 1])) joined[used++] = '/';
    for (size_t i = 0; i < pathLength; ++i) joined[used++] = path[i] == '\\' ? '/' : path[i];
    joined[used] = 0;
    return joined;
}

// The whole file with a terminator after it; length excludes the terminator.
static char* readWholeFile(const char* path, size_t* length) {
    FILE* file = fopen(path, "rb");
    if (!file) return nullptr;
    char* text = nullptr;
    size_t capacity = 0, used = 0;
    int ok = 1;
    for (;;) {
        if (capacity - used < PUBLISH_READ_BLOCK_SIZE) {
            size_t grown = capacity ? capacity * 2 : (size_t)PUBLISH_READ_BLOCK_SIZE;
            char* bigger = (char*)realloc(text, grown + 1);
            if (!bigger) {
                ok = 0;
                break;
            }
            text = bigger;
            capacity = grown;
        }
        size_t n = fread(text + used, 1, capacity - used, file);
        used += n;
        if (n == 0) break;
    }
    if (ferror(file)) ok = 0;
    fclose(file);
    if (!ok) {
        free(text);
        return nullptr;
    }
    text[used] = 0;
    *length = used;
    return text;
}

// path + suffix in a new buffer.
static char* withSuffix(const char* path, const char* suffix) {
    size_t pathLength = strlen(path), suffixLength = strlen(suffix);
    char* joined = (char*)malloc(pathLength + suffixLength + 1);
    if (!joined) return nullptr;
    memcpy(joined, path, pathLength);
    memcpy(joined + pathLength, suffix, suffixLength + 1);
    return joined;
}

// Written beside path and moved over it, so a server never serves half a
// file; ".part" files are never listed.
static int writeReplacing(const char* path, const void* bytes, size_t length) {
    char* partPath = withSuffix(path, ".part");
    if (!partPath) return 0;
    FILE* file = fopen(partPath, "wb");
    int written = file && fwrite(bytes, 1, length, file) == length;
    if (file && fclose(file) != 0) written = 0;
    if (!written || !replaceFile(partPath, path)) {
        remove(partPath);
        written = 0;
    }
    free(partPath);
    return written;
}

// Only blanks, tabs and line ends.
static int isBlankText(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') return 0;
    }
    return 1;
}

// ---- Rules

int findPathRefusal(const char* path, int clientDirLength, char* reason, size_t reasonSize) {
    if (path[0] == 0) return setReason(reason, reasonSize, "empty path");
    if (path[0] == '/') return setReason(reason, reasonSize, "absolute path (the launcher rejects it)");
    if (path[0] == ' ') {
        return setReason(reason, reasonSize, "begins with a blank (the launcher's manifest reader drops it)");
    }
    for (const char* p = path; *p; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c < 32) {
            return setReason(reason, reasonSize, "control character 0x%02x (the launcher rejects it)", c);
        }
        if (c >= 128) {
            return setReason(reason, reasonSize, "non-ASCII byte 0x%02x (the player's ANSI code page may not hold it)",
                             c);
        }
        if (c == '.' && p[1] == '.')
            return setReason(reason, reasonSize, "\"..\" in the path (the launcher rejects it)");
        if (c == '\\') {
            return setReason(reason, reasonSize, "'\\' inside a name (Windows reads it as a folder separator)");
        }
        if (strchr("<>:\"|?*", c)) {
            return setReason(reason, reasonSize, "'%c' is not allowed in Windows file names", c);
        }
    }
    char manifestPath[RELATIVE_PATH_SIZE];
    size_t length = strlen(path);
    int limit = PUBLISH_LOCAL_PATH_LIMIT - clientDirLength - 1 - PUBLISH_PART_SUFFIX_LENGTH;
    if (length > (size_t)limit || !toManifestPath(path, manifestPath)) {
        return setReason(reason, reasonSize,
                         "%llu characters long; at most %d fit under a %d-character client folder "
                         "(\"<folder>\\<path>.part\" must stay within %d characters)",
                         (unsigned long long)length, limit, clientDirLength, PUBLISH_LOCAL_PATH_LIMIT);
    }
    // The launcher's own rule: whatever it would skip is never listed.
    int refusal = clientPathRefusal(manifestPath, nullptr);
    if (refusal != CLIENT_PATH_OK) {
        return setReason(reason, reasonSize, "%s (the launcher skips it)", clientPathRefusalText(refusal));
    }
    return 0;
}

const char* skippedPathNote(const char* path) {
    size_t length = strlen(path);
    if (length >= PUBLISH_PART_SUFFIX_LENGTH && equalsIgnoreCase(path + length - PUBLISH_PART_SUFFIX_LENGTH, ".part")) {
        return "an unfinished download";
    }
    if (strchr(path, '/')) return nullptr;
    if (isOwnFileName(path, nullptr)) return "one of the launcher's own files";
    // The launcher fetches these from the same folder of the server.
    if (equalsIgnoreCase(path, "manifest.txt") || equalsIgnoreCase(path, "news.txt")) {
        return "the server's own document";
    }
    if (equalsIgnoreCase(path, "manifest.txt.sig")) return "the manifest's signature";
    return nullptr;
}

int toManifestPath(const char* path, char* out) {
    size_t length = strlen(path);
    if (length >= RELATIVE_PATH_SIZE) return 0;
    for (size_t i = 0; i <= length; ++i) out[i] = path[i] == '/' ? '\\' : path[i];
    return 1;
}

static unsigned char manifestByte(char c) { return (unsigned char)(c == '/' ? '\\' : c); }

static unsigned char foldedByte(char c) { return (unsigned char)asciiLower(c == '/' ? '\\' : c); }

int compareManifestOrder(const char* a, const char* b) {
    for (; *a && manifestByte(*a) == manifestByte(*b); ++a, ++b) {}
    return (int)manifestByte(*a) - (int)manifestByte(*b);
}

static int compareFolded(const char* a, const char* b) {
    for (; *a && foldedByte(*a) == foldedByte(*b); ++a, ++b) {}
    return (int)foldedByte(*a) - (int)foldedByte(*b);
}

static int startsWithFolded(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (foldedByte(*text) != foldedByte(*prefix)) return 0;
    }
    return 1;
}

static int compareFilesInManifestOrder(const void* a, const void* b) {
    return compareManifestOrder(((const PublishFile*)a)->path, ((const PublishFile*)b)->path);
}

struct FoldedKey {
    const char* path;
    int32_t index;
};

static int compareFoldedKeys(const void* a, const void* b) {
    const FoldedKey* x = (const FoldedKey*)a;
    const FoldedKey* y = (const FoldedKey*)b;
    int order = compareFolded(x->path, y->path);
    if (order != 0) return order;
    return x->index < y->index ? -1 : x->index > y->index;
}

int markCaseTwins(PublishFileList* list) {
    if (list->count > (size_t)INT32_MAX) return 0;
    if (list->count > 1) qsort(list->files, list->count, sizeof(PublishFile), compareFilesInManifestOrder);

    FoldedKey* keys = (FoldedKey*)malloc((list->count + 1) * sizeof(FoldedKey));
    char* prefix = (char*)malloc(PUBLISH_WALK_PATH_SIZE + 2);
    int result = 0;
    size_t keyCount = 0;
    if (!keys || !prefix) goto cleanup;
    // Skipped files are never published, so they clash with nothing.
    for (size_t i = 0; i < list->count; ++i) {
        list->files[i].twin = PUBLISH_NO_TWIN;
        list->files[i].twinIsFolder = 0;
        if (!skippedPathNote(list->files[i].path)) keys[keyCount++] = FoldedKey{list->files[i].path, (int32_t)i};
    }
    if (keyCount > 1) qsort(keys, keyCount, sizeof(FoldedKey), compareFoldedKeys);

    // Equal neighbours in folded order: the first in manifest order stays.
    for (size_t i = 1, first = 0; i < keyCount; ++i) {
        if (compareFolded(keys[first].path, keys[i].path) == 0) {
            list->files[keys[i].index].twin = keys[first].index;
        } else {
            first = i;
        }
    }
    // A file named like another path's folder: the paths under it sort right
    // where "<file>/" would.
    for (size_t i = 0; i < keyCount; ++i) {
        PublishFile* file = &list->files[keys[i].index];
        size_t length = strlen(file->path);
        if (file->twin != PUBLISH_NO_TWIN || length > PUBLISH_WALK_PATH_SIZE) continue;
        memcpy(prefix, file->path, length);
        prefix[length] = '/';
        prefix[length + 1] = 0;
        size_t low = 0, high = keyCount;
        while (low < high) {
            size_t middle = low + (high - low) / 2;
            if (compareFolded(keys[middle].path, prefix) < 0) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        if (low < keyCount && startsWithFolded(keys[low].path, prefix)) {
            file->twin = keys[low].index;
            file->twinIsFolder = 1;
        }
    }
    result = 1;

cleanup:
    free(keys);
    free(prefix);
    return result;
}

int formatManifestLine(char* out, size_t outSize, const char* sha256, uint64_t size, const char* manifestPath) {
    return formatText(out, outSize, "%s %llu %s\r\n", sha256, (unsigned long long)size, manifestPath);
}

int manifestLineReadsBack(const char* line, const char* sha256, uint64_t size, const char* manifestPath) {
    ManifestEntry entry;
    if (!parseManifestLine(line, &entry)) return 0;
    return strcmp(entry.sha256, sha256) == 0 && entry.size == size && strcmp(entry.path, manifestPath) == 0;
}

int isDigestText(const char* text) {
    for (int i = 0; i < 64; ++i) {
        char c = asciiLower(text[i]);
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
    }
    return text[64] == 0;
}

void formatProgressLine(char* out, size_t outSize, const PublishProgress* progress) {
    formatText(out, outSize, "hashing %llu/%llu files, %llu/%llu MiB", (unsigned long long)progress->doneFiles,
               (unsigned long long)progress->fileCount, (unsigned long long)(progress->doneBytes / PUBLISH_MIB),
               (unsigned long long)(progress->byteCount / PUBLISH_MIB));
}

int addPublishFile(PublishFileList* list, const char* path, uint64_t size, int32_t kind) {
    if (list->count == list->capacity) {
        size_t capacity = list->capacity ? list->capacity * 2 : (size_t)PUBLISH_FIRST_LIST_CAPACITY;
        PublishFile* files = (PublishFile*)realloc(list->files, capacity * sizeof(PublishFile));
        if (!files) return 0;
        list->files = files;
        list->capacity = capacity;
    }
    size_t length = strlen(path);
    char* copy = (char*)malloc(length + 1);
    if (!copy) return 0;
    memcpy(copy, path, length + 1);
    PublishFile* file = &list->files[list->count++];
    *file = PublishFile{};
    file->path = copy;
    file->size = size;
    file->kind = kind;
    file->twin = PUBLISH_NO_TWIN;
    return 1;
}

void freePublishFileList(PublishFileList* list) {
    for (size_t i = 0; i < list->count; ++i) free(list->files[i].path);
    free(list->files);
    *list = PublishFileList{};
}

// ---- Progress

static void startProgress(PublishProgress* progress, FILE* stream, uint64_t fileCount, uint64_t byteCount) {
    *progress = PublishProgress{};
    progress->stream = isTerminal(stream) ? stream : nullptr;
    progress->fileCount = fileCount;
    progress->byteCount = byteCount;
    // Runs shorter than one interval never show a line at all.
    progress->lastDrawMs = monotonicMilliseconds();
}

static void drawProgress(PublishProgress* progress) {
    if (!progress->stream) return;
    uint64_t now = monotonicMilliseconds();
    if (now - progress->lastDrawMs < PUBLISH_PROGRESS_INTERVAL_MS) return;
    progress->lastDrawMs = now;
    char line[PUBLISH_PROGRESS_LINE_SIZE];
    formatProgressLine(line, sizeof(line), progress);
    size_t length = strlen(line);
    fprintf(progress->stream, "\r%s", line);
    for (size_t i = length; i < progress->drawnLength; ++i) fputc(' ', progress->stream);
    if (length > progress->drawnLength) progress->drawnLength = length;
    fflush(progress->stream);
}

void addHashedBytes(PublishProgress* progress, uint64_t bytes) {
    progress->doneBytes += bytes;
    drawProgress(progress);
}

// Counts a file as done with the size it was expected to have, so the byte
// count ends at the total even when a file changed meanwhile.
static void finishProgressFile(PublishProgress* progress, uint64_t bytesBefore, uint64_t size) {
    progress->doneBytes = bytesBefore + size;
    ++progress->doneFiles;
    drawProgress(progress);
}

void clearProgress(PublishProgress* progress) {
    if (!progress->stream || progress->drawnLength == 0) return;
    fputc('\r', progress->stream);
    for (size_t i = 0; i < progress->drawnLength; ++i) fputc(' ', progress->stream);
    fputc('\r', progress->stream);
    fflush(progress->stream);
    progress->drawnLength = 0;
}

// ---- Signatures

static int signText(PublishSigningKey* key, const char* text, size_t length, unsigned char* der, size_t* derLength,
                    FILE* err) {
    if (signMessage(key, (const unsigned char*)text, length, der, derLength)) return 1;
    fprintf(err, "orvel-publish: the signing library could not sign the manifest\n");
    return 0;
}

static int writeSignature(const char* manifestPath, const unsigned char* der, size_t derLength, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    char* signaturePath = withSuffix(manifestPath, ".sig");
    int written = signaturePath && writeReplacing(signaturePath, der, derLength);
    if (written) {
        fprintf(err, "%s: signed\n", escapePath(shown, signaturePath));
    } else {
        fprintf(err, "orvel-publish: cannot write the signature of %s\n", escapePath(shown, manifestPath));
    }
    free(signaturePath);
    return written;
}

static PublishSigningKey* openSigningKey(const char* keyPath, FILE* err) {
    char reason[PUBLISH_MESSAGE_TEXT_SIZE];
    PublishSigningKey* key = loadSigningKey(keyPath, reason, sizeof(reason));
    if (!key) fprintf(err, "orvel-publish: %s\n", reason);
    return key;
}

// 1 when manifestPath + ".sig" is a signature of text (the manifest's exact
// bytes) by the key in publicKeyPath; otherwise 0 and why on out.
static int checkSignature(const char* publicKeyPath, const char* manifestPath, const char* text, size_t length,
                          FILE* out) {
    char shownKey[PUBLISH_MESSAGE_TEXT_SIZE], shownSignature[PUBLISH_MESSAGE_TEXT_SIZE];
    unsigned char xy[SIGNATURE_PAIR_SIZE], rs[SIGNATURE_PAIR_SIZE];
    size_t keyLength = 0, signatureLength = 0;
    int good = 0;
    char* keyText = readWholeFile(publicKeyPath, &keyLength);
    char* signaturePath = withSuffix(manifestPath, ".sig");
    char* signature = signaturePath ? readWholeFile(signaturePath, &signatureLength) : nullptr;
    const unsigned char* der = (const unsigned char*)signature;
    escapePath(shownKey, publicKeyPath);
    escapePath(shownSignature, signaturePath ? signaturePath : manifestPath);
    if (!keyText) {
        fprintf(out, "cannot read the public key %s\n", shownKey);
    } else if (!parseP256PublicKeyPem(keyText, keyLength, xy)) {
        fprintf(out, "%s is not an ECDSA P-256 public key in PEM form (\"-----BEGIN PUBLIC KEY-----\")\n", shownKey);
    } else if (!signature) {
        fprintf(out, "%s: missing; a launcher built with release keys installs nothing from this release\n",
                shownSignature);
    } else if (!parseEcdsaP256DerSignature(der, signatureLength, rs)) {
        // A DER sequence gives its own length in its second byte.
        if (signatureLength >= 2 && der[0] == 0x30 && der[1] < 0x80 && signatureLength < 2u + der[1]) {
            fprintf(out, "%s: cut short, %zu of %d bytes\n", shownSignature, signatureLength, 2 + der[1]);
        } else {
            fprintf(out, "%s: not an ECDSA P-256 signature in DER form (%zu bytes)\n", shownSignature, signatureLength);
        }
    } else if (!verifyP256Signature(xy, (const unsigned char*)text, length, rs)) {
        fprintf(out,
                "%s: not a signature of this manifest by %s (made with another key, or the manifest changed "
                "after signing)\n",
                shownSignature, shownKey);
    } else {
        fprintf(out, "%s: signed by %s\n", shownSignature, shownKey);
        good = 1;
    }
    free(signature);
    free(signaturePath);
    free(keyText);
    return good;
}

int makeKeys(const char* name, FILE* out, FILE* err) {
    char reason[PUBLISH_MESSAGE_TEXT_SIZE], shownKey[PUBLISH_MESSAGE_TEXT_SIZE], shownPublic[PUBLISH_MESSAGE_TEXT_SIZE];
    unsigned char xy[SIGNATURE_PAIR_SIZE];
    int status = PUBLISH_EXIT_PROBLEM;
    size_t length = 0;
    char* publicText = nullptr;
    char* keyPath = withSuffix(name, ".key");
    char* publicPath = withSuffix(name, ".pub");
    if (!keyPath || !publicPath) {
        fprintf(err, "orvel-publish: out of memory\n");
        goto cleanup;
    }
    if (!makeKeyPair(keyPath, publicPath, reason, sizeof(reason))) {
        fprintf(err, "orvel-publish: %s\n", reason);
        goto cleanup;
    }
    // The public key must be one the launcher's build and parser accept.
    publicText = readWholeFile(publicPath, &length);
    if (!publicText || !parseP256PublicKeyPem(publicText, length, xy)) {
        fprintf(err, "orvel-publish: internal error: the launcher would not read %s\n", publicPath);
        goto cleanup;
    }
    escapePath(shownKey, keyPath);
    escapePath(shownPublic, publicPath);
    fprintf(out,
            "%s: the private key, readable by you alone. Sign releases with it on this machine; never put it "
            "on the update server.\n%s: the public key, no secret. Build the launcher with it (ORVEL_RELEASE_KEYS).\n",
            shownKey, shownPublic);
    status = PUBLISH_EXIT_OK;

cleanup:
    free(publicText);
    free(publicPath);
    free(keyPath);
    return status;
}

int signPublished(const char* folder, const char* keyPath, FILE*, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    unsigned char der[SIGNATURE_DER_MAX_SIZE];
    size_t length = 0, derLength = 0;
    int status = PUBLISH_EXIT_PROBLEM;
    char* text = nullptr;
    PublishSigningKey* key = nullptr;
    char* root = copyFolderName(folder);
    char* manifestPath = root ? joinLocalPath(root, "manifest.txt") : nullptr;
    if (!manifestPath) {
        fprintf(err, "orvel-publish: out of memory\n");
        goto cleanup;
    }
    text = readWholeFile(manifestPath, &length);
    if (!text) {
        fprintf(err, "orvel-publish: cannot read %s\n", escapePath(shown, manifestPath));
        goto cleanup;
    }
    key = openSigningKey(keyPath, err);
    if (key && signText(key, text, length, der, &derLength, err) && writeSignature(manifestPath, der, derLength, err)) {
        status = PUBLISH_EXIT_OK;
    }

cleanup:
    freeSigningKey(key);
    free(text);
    free(manifestPath);
    free(root);
    return status;
}

// ---- manifest

// Why f may not be listed; 0 when it may.
static int findFileRefusal(const PublishFileList* list, const PublishFile* f, int clientDirLength, char* reason,
                           size_t reasonSize) {
    char other[PUBLISH_MESSAGE_TEXT_SIZE];
    if (f->kind == PUBLISH_KIND_LINK) {
        return setReason(reason, reasonSize, "a symbolic link; only regular files are published");
    }
    if (f->kind == PUBLISH_KIND_OTHER) return setReason(reason, reasonSize, "not a regular file");
    if (f->kind == PUBLISH_KIND_UNREADABLE) return setReason(reason, reasonSize, "cannot be read");
    if (findPathRefusal(f->path, clientDirLength, reason, reasonSize)) return 1;
    if (f->twin == PUBLISH_NO_TWIN) return 0;
    escapePath(other, list->files[f->twin].path);
    if (f->twinIsFolder) {
        return setReason(reason, reasonSize,
                         "a file, but %s needs a folder of this name on Windows (letter case aside)", other);
    }
    return setReason(reason, reasonSize, "the same file as %s on Windows (letter case aside)", other);
}

int publishManifest(const char* clientDir, const char* outputPath, int clientDirLength, const char* keyPath, FILE* out,
                    FILE* err) {
    int status = PUBLISH_EXIT_PROBLEM;
    PublishFileList list = {};
    PublishProgress progress = {};
    PublishSigningKey* key = nullptr;
    char* root = copyFolderName(clientDir);
    char* defaultOutput = nullptr;
    char* oldSignature = nullptr;
    char* text = nullptr;
    unsigned char der[SIGNATURE_DER_MAX_SIZE];
    size_t refused = 0, skipped = 0, listed = 0, textUsed = 0, derLength = 0;
    uint64_t totalBytes = 0;
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], shownOutput[PUBLISH_MESSAGE_TEXT_SIZE], reason[PUBLISH_REASON_SIZE];
    const char* outputName = nullptr;

    if (!root) goto outOfMemory;
    if (!outputPath) {
        defaultOutput = joinLocalPath(root, "manifest.txt");
        if (!defaultOutput) goto outOfMemory;
        outputPath = defaultOutput;
    }
    outputName = strcmp(outputPath, "-") == 0 ? "standard output" : escapePath(shownOutput, outputPath);
    // The key first: a wrong path or pass phrase shows up before any hashing.
    if (keyPath && !(key = openSigningKey(keyPath, err))) goto cleanup;
    if (!walkClientFolder(root, &list)) {
        fprintf(err, "orvel-publish: cannot list the folder %s\n", escapePath(shown, clientDir));
        goto cleanup;
    }
    if (!markCaseTwins(&list)) goto outOfMemory;

    for (size_t i = 0; i < list.count; ++i) {
        const PublishFile* f = &list.files[i];
        const char* note = skippedPathNote(f->path);
        if (note) {
            fprintf(err, "skipped: %s (%s)\n", escapePath(shown, f->path), note);
            ++skipped;
            continue;
        }
        if (findFileRefusal(&list, f, clientDirLength, reason, sizeof(reason))) {
            fprintf(err, "refused: %s: %s\n", escapePath(shown, f->path), reason);
            ++refused;
        } else {
            ++listed;
            totalBytes += f->size;
        }
    }
    if (refused > 0) {
        fprintf(err, "orvel-publish: %zu file(s) refused; no manifest written to %s\n", refused, outputName);
        goto cleanup;
    }

    startProgress(&progress, err, listed, totalBytes);
    for (size_t i = 0; i < list.count; ++i) {
        PublishFile* f = &list.files[i];
        if (skippedPathNote(f->path)) continue;
        char* local = joinLocalPath(root, f->path);
        if (!local) goto outOfMemory;
        uint64_t before = progress.doneBytes, hashed = 0;
        int ok = hashLocalFile(local, f->sha256, &hashed, &progress);
        free(local);
        finishProgressFile(&progress, before, f->size);
        if (!ok || hashed != f->size) {
            clearProgress(&progress);
            fprintf(err, "refused: %s: %s\n", escapePath(shown, f->path),
                    ok ? "changed while it was read" : "cannot be read");
            ++refused;
        }
    }
    clearProgress(&progress);
    if (refused > 0) {
        fprintf(err, "orvel-publish: %zu file(s) refused; no manifest written to %s\n", refused, outputName);
        goto cleanup;
    }

    text = (char*)malloc(listed * PUBLISH_LINE_SIZE + 1);
    if (!text) goto outOfMemory;
    for (size_t i = 0; i < list.count; ++i) {
        const PublishFile* f = &list.files[i];
        if (skippedPathNote(f->path)) continue;
        char manifestPath[RELATIVE_PATH_SIZE];
        char* line = text + textUsed;
        // Every line must read back through the launcher's own parser as
        // written; anything else is a fault of this tool.
        if (!toManifestPath(f->path, manifestPath) ||
            !formatManifestLine(line, PUBLISH_LINE_SIZE, f->sha256, f->size, manifestPath) ||
            !manifestLineReadsBack(line, f->sha256, f->size, manifestPath)) {
            fprintf(err, "orvel-publish: internal error: the launcher would not read the line for %s as written\n",
                    escapePath(shown, f->path));
            goto cleanup;
        }
        textUsed += strlen(line);
    }

    // Signed before anything is written: a failure leaves the old manifest and
    // its signature as they were.
    if (key && !signText(key, text, textUsed, der, &derLength, err)) goto cleanup;
    if (strcmp(outputPath, "-") == 0) {
        if (fwrite(text, 1, textUsed, out) != textUsed || fflush(out) != 0) {
            fprintf(err, "orvel-publish: cannot write the manifest to standard output\n");
            goto cleanup;
        }
    } else if (!writeReplacing(outputPath, text, textUsed)) {
        fprintf(err, "orvel-publish: cannot write %s\n", outputName);
        goto cleanup;
    }
    fprintf(err, "%s: %zu files, %llu bytes", outputName, listed, (unsigned long long)totalBytes);
    if (skipped > 0) fprintf(err, " (%zu skipped)", skipped);
    fputc('\n', err);
    if (key && !writeSignature(outputPath, der, derLength, err)) goto cleanup;
    if (!key && strcmp(outputPath, "-") != 0) {
        // A signature of the manifest just replaced would pair with the new one on a server.
        uint64_t size = 0;
        oldSignature = withSuffix(outputPath, ".sig");
        if (!oldSignature) goto outOfMemory;
        if (localFileKind(oldSignature, &size) != PUBLISH_KIND_MISSING) {
            fprintf(err,
                    "warning: %s is left from an earlier manifest and may not match this one: sign this one "
                    "before publishing it\n",
                    escapePath(shown, oldSignature));
        }
    }
    status = PUBLISH_EXIT_OK;
    goto cleanup;

outOfMemory:
    fprintf(err, "orvel-publish: out of memory\n");
cleanup:
    clearProgress(&progress);
    freeSigningKey(key);
    free(text);
    free(oldSignature);
    free(defaultOutput);
    free(root);
    freePublishFileList(&list);
    return status;
}

// ---- check-news

static void reportCut(FILE* out, const char* name, int lineNumber, const char* field, const char* text, size_t length) {
    char kept[PUBLISH_MESSAGE_TEXT_SIZE], cut[PUBLISH_MESSAGE_TEXT_SIZE];
    fprintf(out, "%s line %d: the %s is %zu bytes; the window shows the first %d: \"%s\" and cuts \"%s\"\n", name,
            lineNumber, field, length, NEWS_FIELD_SIZE - 1, escapeText(kept, sizeof(kept), text, NEWS_FIELD_SIZE - 1),
            escapeText(cut, sizeof(cut), text + NEWS_FIELD_SIZE - 1, length - (NEWS_FIELD_SIZE - 1)));
}

int checkNews(const char* newsPath, FILE* out, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], caption[PUBLISH_MESSAGE_TEXT_SIZE];
    size_t length = 0;
    char* text = readWholeFile(newsPath, &length);
    if (!text) {
        fprintf(err, "orvel-publish: cannot read %s\n", escapePath(shown, newsPath));
        return PUBLISH_EXIT_PROBLEM;
    }
    const char* name = escapePath(shown, newsPath);
    int problems = 0, items = 0, lineNumber = 0;
    // The launcher's text ends at the first NUL byte.
    size_t textLength = strlen(text);
    if (textLength < length) {
        fprintf(out, "%s: a NUL byte at offset %zu; the launcher reads nothing after it\n", name, textLength);
        ++problems;
    }

    // The launcher's reading: lines end at LF, each is cut at its first CR,
    // and a line without a bar is skipped.
    for (size_t start = 0; start < textLength;) {
        const char* line = text + start;
        const char* lineFeed = (const char*)memchr(line, '\n', textLength - start);
        size_t lineLength = lineFeed ? (size_t)(lineFeed - line) : textLength - start;
        start += lineLength + (lineFeed ? 1 : 0);
        ++lineNumber;

        const char* carriageReturn = (const char*)memchr(line, '\r', lineLength);
        size_t visible = carriageReturn ? (size_t)(carriageReturn - line) : lineLength;
        if (carriageReturn) {
            const char* rest = carriageReturn;
            size_t restLength = lineLength - visible;
            while (restLength > 0 && *rest == '\r') ++rest, --restLength;
            if (restLength > 0) {
                fprintf(out, "%s line %d: the text after a carriage return is ignored: \"%s\"\n", name, lineNumber,
                        escapeText(caption, sizeof(caption), rest, restLength));
                ++problems;
            }
        }
        const char* bar = (const char*)memchr(line, '|', visible);
        if (!bar) {
            if (!isBlankText(line, visible)) {
                fprintf(out, "%s line %d: no \"|\"; the launcher ignores this line: \"%s\"\n", name, lineNumber,
                        escapeText(caption, sizeof(caption), line, visible));
                ++problems;
            }
            continue;
        }
        if (items == PUBLISH_NEWS_CAPACITY) {
            fprintf(out, "%s line %d: past the fourth item; never shown: \"%s\"\n", name, lineNumber,
                    escapeText(caption, sizeof(caption), line, visible));
            ++problems;
            continue;
        }
        ++items;
        size_t captionLength = (size_t)(bar - line);
        size_t headlineLength = visible - captionLength - 1;
        if (captionLength > NEWS_FIELD_SIZE - 1) {
            reportCut(out, name, lineNumber, "caption", line, captionLength);
            ++problems;
        }
        if (headlineLength > NEWS_FIELD_SIZE - 1) {
            reportCut(out, name, lineNumber, "headline", bar + 1, headlineLength);
            ++problems;
        }
    }
    if (items == 0) {
        fprintf(out, "%s: no \"caption|headline\" line%s\n", name,
                isBlankText(text, textLength) ? " (the file is empty or holds only blank lines)" : "");
        ++problems;
    }

    // What the window shows comes from the launcher's own parser.
    NewsItem shownItems[PUBLISH_NEWS_CAPACITY];
    int shownCount = parseNewsItems(text, shownItems, PUBLISH_NEWS_CAPACITY);
    int status = problems ? PUBLISH_EXIT_PROBLEM : PUBLISH_EXIT_OK;
    if (shownCount != items) {
        fprintf(err, "orvel-publish: internal error: the launcher finds %d news items, this tool %d\n", shownCount,
                items);
        status = PUBLISH_EXIT_PROBLEM;
    }
    if (shownCount == 0) {
        fprintf(out, "The window shows no news.\n");
    } else {
        fprintf(out, "The window shows:\n");
    }
    for (int i = 0; i < shownCount; ++i) {
        char headline[PUBLISH_MESSAGE_TEXT_SIZE];
        fprintf(out, "  %d. %s | %s\n", i + 1,
                escapeText(caption, sizeof(caption), shownItems[i].caption, strlen(shownItems[i].caption)),
                escapeText(headline, sizeof(headline), shownItems[i].headline, strlen(shownItems[i].headline)));
    }
    if (problems) {
        fprintf(out, "%s: %d problem(s); the window does not show every line as written\n", name, problems);
    } else {
        fprintf(out, "%s: the window shows all %d item(s) as written\n", name, shownCount);
    }
    free(text);
    return status;
}

// ---- verify

struct VerifyEntry {
    ManifestEntry entry;
    int32_t lineNumber;
    int32_t checkFile;  // 0 when the line itself is already reported
};

static int verifyEntry(const char* root, const VerifyEntry* item, PublishProgress* progress, FILE* out) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    const ManifestEntry* e = &item->entry;
    char* local = joinLocalPath(root, e->path);
    if (!local) {
        clearProgress(progress);
        fprintf(out, "cannot check %s (out of memory)\n", escapePath(shown, e->path));
        return 0;
    }
    int good = 0;
    uint64_t size = 0, hashed = 0;
    char digest[DIGEST_TEXT_SIZE];
    int32_t kind = localFileKind(local, &size);
    if (kind == PUBLISH_KIND_MISSING) {
        clearProgress(progress);
        fprintf(out, "missing: %s (line %d)\n", escapePath(shown, e->path), item->lineNumber);
    } else if (kind != PUBLISH_KIND_FILE) {
        clearProgress(progress);
        fprintf(out, "not a regular file: %s (line %d)\n", escapePath(shown, e->path), item->lineNumber);
    } else if (size != e->size) {
        clearProgress(progress);
        fprintf(out, "wrong size: %s: the manifest says %llu bytes, the file has %llu (line %d)\n",
                escapePath(shown, e->path), (unsigned long long)e->size, (unsigned long long)size, item->lineNumber);
    } else if (!hashLocalFile(local, digest, &hashed, progress)) {
        clearProgress(progress);
        fprintf(out, "cannot read: %s (line %d)\n", escapePath(shown, e->path), item->lineNumber);
    } else if (!equalsIgnoreCase(digest, e->sha256)) {
        clearProgress(progress);
        fprintf(out, "wrong digest: %s: the manifest says %s, the file has %s (line %d)\n", escapePath(shown, e->path),
                e->sha256, digest, item->lineNumber);
    } else {
        good = 1;
    }
    free(local);
    return good;
}

// The visible part of a manifest line ends where its path ends, unless the
// launcher cut the path to 259 characters.
static int keepsWholePath(const char* line, const char* path) {
    size_t lineLength = strcspn(line, "\r\n");
    size_t pathLength = strlen(path);
    return lineLength >= pathLength && memcmp(line + lineLength - pathLength, path, pathLength) == 0;
}

int verifyPublished(const char* folder, const char* manifestPath, const char* publicKeyPath, FILE* out, FILE* err) {
    int status = PUBLISH_EXIT_PROBLEM;
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], lineText[PUBLISH_MESSAGE_TEXT_SIZE];
    char* root = copyFolderName(folder);
    char* defaultManifest = nullptr;
    char* text = nullptr;
    VerifyEntry* entries = nullptr;
    PathSet seen = {};
    PublishProgress progress = {};
    size_t length = 0, entryCount = 0, checkCount = 0, lineCount = 1, problems = 0, textLength = 0;
    uint64_t totalBytes = 0;
    const char* name = nullptr;
    char* line = nullptr;

    if (!root) goto outOfMemory;
    if (!manifestPath) {
        defaultManifest = joinLocalPath(root, "manifest.txt");
        if (!defaultManifest) goto outOfMemory;
        manifestPath = defaultManifest;
    }
    text = readWholeFile(manifestPath, &length);
    if (!text) {
        fprintf(err, "orvel-publish: cannot read %s\n", escapePath(shown, manifestPath));
        goto cleanup;
    }
    name = escapePath(shown, manifestPath);
    // The signature covers the bytes as read, before the lines are cut apart.
    if (publicKeyPath && !checkSignature(publicKeyPath, manifestPath, text, length, out)) ++problems;
    textLength = strlen(text);
    if (textLength < length) {
        fprintf(out, "%s: a NUL byte at offset %zu; the launcher reads nothing after it\n", name, textLength);
        ++problems;
    }
    for (size_t i = 0; i < textLength; ++i) lineCount += text[i] == '\n';
    entries = (VerifyEntry*)malloc(lineCount * sizeof(VerifyEntry));
    if (!entries) goto outOfMemory;

    // Read as the launcher reads it: the first line of a path decides.
    line = text;
    for (int32_t lineNumber = 1; line; ++lineNumber) {
        char* current = line;
        char* lineFeed = strchr(current, '\n');
        if (lineFeed) *lineFeed = 0;
        line = lineFeed ? lineFeed + 1 : nullptr;
        if (isBlankText(current, strlen(current))) continue;

        VerifyEntry* item = &entries[entryCount];
        if (!parseManifestLine(current, &item->entry)) {
            fprintf(out, "%s line %d: the launcher rejects this line: \"%s\"\n", name, lineNumber,
                    escapeText(lineText, sizeof(lineText), current, strcspn(current, "\r")));
            ++problems;
            continue;
        }
        if (!addPathOnce(&seen, item->entry.path)) {
            int32_t first = 0;
            for (size_t i = 0; i < entryCount && !first; ++i) {
                if (equalsIgnoreCase(entries[i].entry.path, item->entry.path)) first = entries[i].lineNumber;
            }
            fprintf(out,
                    "%s line %d: %s is listed again (first on line %d, letter case aside); "
                    "the launcher uses only the first\n",
                    name, lineNumber, escapePath(lineText, item->entry.path), first);
            ++problems;
            continue;
        }
        item->lineNumber = lineNumber;
        item->checkFile = 0;
        ++entryCount;
        if (!keepsWholePath(current, item->entry.path)) {
            fprintf(out, "%s line %d: the path is longer than %d characters; the launcher cuts it to \"%s\"\n", name,
                    lineNumber, RELATIVE_PATH_SIZE - 1, escapePath(lineText, item->entry.path));
            ++problems;
        } else if (!isDigestText(item->entry.sha256)) {
            fprintf(out, "%s line %d: the digest of %s is not 64 hexadecimal digits; the file can never match\n", name,
                    lineNumber, escapePath(lineText, item->entry.path));
            ++problems;
        } else {
            item->checkFile = 1;
            totalBytes += item->entry.size;
            ++checkCount;
        }
    }

    startProgress(&progress, err, checkCount, totalBytes);
    for (size_t i = 0; i < entryCount; ++i) {
        if (!entries[i].checkFile) continue;
        uint64_t before = progress.doneBytes;
        if (!verifyEntry(root, &entries[i], &progress, out)) ++problems;
        finishProgressFile(&progress, before, entries[i].entry.size);
    }
    clearProgress(&progress);

    if (problems > 0) {
        fprintf(out, "%s: %zu problem(s)\n", name, problems);
    } else {
        fprintf(out, "%s: all %zu files match (%llu bytes)\n", name, checkCount, (unsigned long long)totalBytes);
        status = PUBLISH_EXIT_OK;
    }
    goto cleanup;

outOfMemory:
    fprintf(err, "orvel-publish: out of memory\n");
cleanup:
    clearProgress(&progress);
    freePathSet(&seen);
    free(entries);
    free(text);
    free(defaultManifest);
    free(root);
    return status;
}

// ---- Command line

static int usageError(FILE* err, const char* format, const char* argument) {
    fputs("orvel-publish: ", err);
    fprintf(err, format, argument);
    fputs("\nTry \"orvel-publish --help\".\n", err);
    return PUBLISH_EXIT_USAGE;
}

// A whole decimal number within [low, high]; 0 otherwise.
static int parseBoundedNumber(const char* text, int low, int high, int* value) {
    long number = 0;
    if (*text == 0) return 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return 0;
        number = number * 10 + (*p - '0');
        if (number > high) return 0;
    }
    if (number < low) return 0;
    *value = (int)number;
    return 1;
}

int runPublish(int argc, char** argv, FILE* out, FILE* err) {
    if (argc < 2) {
        fputs(PUBLISH_USAGE, err);
        return PUBLISH_EXIT_USAGE;
    }
    const char* command = argv[1];
    if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0 || strcmp(command, "help") == 0) {
        fputs(PUBLISH_USAGE, out);
        return PUBLISH_EXIT_OK;
    }
    int isManifest = strcmp(command, "manifest") == 0;
    int isNews = strcmp(command, "check-news") == 0;
    int isVerify = strcmp(command, "verify") == 0;
    int isSign = strcmp(command, "sign") == 0;
    int isKeygen = strcmp(command, "keygen") == 0;
    if (!isManifest && !isNews && !isVerify && !isSign && !isKeygen) {
        return usageError(err, "unknown command \"%s\"", command);
    }

    const char* operand = nullptr;
    const char* optionFile = nullptr;
    const char* keyFile = nullptr;  // --key, or --pub for verify
    int clientDirLength = PUBLISH_DEFAULT_CLIENT_DIR_LENGTH;
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        int hasValue = i + 1 < argc;
        if (isManifest && strcmp(argument, "-o") == 0 && hasValue) {
            optionFile = argv[++i];
        } else if (isManifest && strcmp(argument, "--client-dir-length") == 0 && hasValue) {
            if (!parseBoundedNumber(argv[++i], PUBLISH_MIN_CLIENT_DIR_LENGTH, PUBLISH_MAX_CLIENT_DIR_LENGTH,
                                    &clientDirLength)) {
                return usageError(err, "--client-dir-length takes a number from 2 to 252, not \"%s\"", argv[i]);
            }
        } else if (isVerify && strcmp(argument, "--manifest") == 0 && hasValue) {
            optionFile = argv[++i];
        } else if (((isManifest || isSign) && strcmp(argument, "--key") == 0 && hasValue) ||
                   (isVerify && strcmp(argument, "--pub") == 0 && hasValue)) {
            keyFile = argv[++i];
        } else if (argument[0] == '-' && argument[1] != 0) {
            return usageError(err, "unknown option or missing value: \"%s\"", argument);
        } else if (operand) {
            return usageError(err, "one folder or file only; \"%s\" is one too many", argument);
        } else {
            operand = argument;
        }
    }
    if (!operand) return usageError(err, "\"%s\" needs a folder, file or name", command);
    if (isSign && !keyFile) return usageError(err, "\"%s\" needs --key NAME.key", command);
    if (isManifest && keyFile && optionFile && strcmp(optionFile, "-") == 0) {
        return usageError(err, "%s: a signed manifest goes to a file, not to standard output", "--key");
    }
    if (isKeygen) return makeKeys(operand, out, err);
    if (isSign) return signPublished(operand, keyFile, out, err);
    if (isManifest) return publishManifest(operand, optionFile, clientDirLength, keyFile, out, err);
    if (isNews) return checkNews(operand, out, err);
    return verifyPublished(operand, optionFile, keyFile, out, err);
}
