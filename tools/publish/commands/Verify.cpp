#include <stdlib.h>
#include <string.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"

#include "shell/Text.h"
#include "update/Documents.h"
#include "update/PathSet.h"

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

// verify FOLDER [--manifest FILE] [--pub NAME.pub]: the files of a published
// folder against its manifest, read as the launcher reads it.
int runVerify(const PublishOptions* options, FILE* out, FILE* err) {
    const char* manifestPath = options->manifest;
    const char* publicKeyPath = options->publicKey;
    int status = PUBLISH_EXIT_PROBLEM;
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], lineText[PUBLISH_MESSAGE_TEXT_SIZE];
    char* root = copyFolderName(options->operand);
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
