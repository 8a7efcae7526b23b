#include <stdlib.h>
#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/Directives.h"
#include "update/Documents.h"
#include "update/PathSet.h"

struct VerifyEntry {
    ManifestEntry entry;
    int32_t lineNumber;
    int32_t checkFile;  // 0 when the line itself is already reported
};

// One file as published: shownName names it, where tells the manifest line.
static int checkPublishedFile(const char* local, const char* shownName, const char* where, const char* sha256,
                              uint64_t expectedSize, PublishProgress* progress, FILE* out) {
    int good = 0;
    uint64_t size = 0, hashed = 0;
    char digest[DIGEST_TEXT_SIZE];
    int32_t kind = localFileKind(local, &size);
    if (kind == PUBLISH_KIND_MISSING) {
        clearProgress(progress);
        fprintf(out, "missing: %s (%s)\n", shownName, where);
    } else if (kind != PUBLISH_KIND_FILE) {
        clearProgress(progress);
        fprintf(out, "not a regular file: %s (%s)\n", shownName, where);
    } else if (size != expectedSize) {
        clearProgress(progress);
        fprintf(out, "wrong size: %s: the manifest says %llu bytes, the file has %llu (%s)\n", shownName,
                (unsigned long long)expectedSize, (unsigned long long)size, where);
    } else if (!hashLocalFile(local, digest, &hashed, progress)) {
        clearProgress(progress);
        fprintf(out, "cannot read: %s (%s)\n", shownName, where);
    } else if (!equalsIgnoreCase(digest, sha256)) {
        clearProgress(progress);
        fprintf(out, "wrong digest: %s: the manifest says %s, the file has %s (%s)\n", shownName, sha256, digest,
                where);
    } else {
        good = 1;
    }
    return good;
}

// The object of a digest in the store under root: 1 when it is right.
static int checkObject(const char* root, const char* sha256, uint64_t size, const char* where,
                       PublishProgress* progress, FILE* out) {
    char relative[PUBLISH_OBJECT_PATH_SIZE];
    formatObjectPath(sha256, relative);
    char* local = joinLocalPath(root, relative);
    int good = local && checkPublishedFile(local, relative, where, sha256, size, progress, out);
    free(local);
    return good;
}

// The block index that #blocks promises beside an object: 1 when it is there
// and is the object's.
static int checkBlockIndex(const char* root, const ManifestDirectives* directives, const char* sha256, uint64_t size,
                           PublishProgress* progress, FILE* out) {
    if (!hasBlockIndex(directives, size)) return 1;
    ManifestDirectives blocks;
    publishBlockDirectives(&blocks);
    char name[PUBLISH_INDEX_PATH_SIZE];
    formatIndexPath(sha256, name);
    // Another block size is no index this tool made, nor one it can check.
    int state = directives->blockSize != blocks.blockSize ? PUBLISH_INDEX_UNREADABLE
                                                          : syncBlockIndex(root, sha256, size, 0, progress);
    if (state == PUBLISH_INDEX_RIGHT) return 1;
    clearProgress(progress);
    fprintf(out, "%s: %s\n",
            state == PUBLISH_INDEX_MISSING ? "missing block index"
            : state == PUBLISH_INDEX_WRONG ? "wrong block index (not its object's)"
                                           : "block index not checked (its object or its block size)",
            name);
    return 0;
}

// Where the manifest lists a file: in the store, at its path, or both (a
// hard link of one file is read once).
static int verifyEntry(const char* root, const VerifyEntry* item, int inStore, int atPath, PublishProgress* progress,
                       FILE* out) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], where[PUBLISH_MESSAGE_TEXT_SIZE], object[PUBLISH_OBJECT_PATH_SIZE];
    const ManifestEntry* e = &item->entry;
    formatText(where, sizeof(where), "line %d", item->lineNumber);
    formatObjectPath(e->sha256, object);
    char* local = joinLocalPath(root, e->path);
    char* objectLocal = joinLocalPath(root, object);
    int good = local && objectLocal;
    if (!good) fprintf(out, "cannot check %s (out of memory)\n", escapePath(shown, e->path));
    if (good && inStore) good = checkPublishedFile(objectLocal, object, where, e->sha256, e->size, progress, out);
    if (good && atPath && !(inStore && sameLocalFile(objectLocal, local))) {
        good = checkPublishedFile(local, escapePath(shown, e->path), where, e->sha256, e->size, progress, out);
    }
    free(objectLocal);
    free(local);
    return good;
}

static int isMissing(const char* root, const char* path) {
    uint64_t size = 0;
    char* local = joinLocalPath(root, path);
    int missing = !local || localFileKind(local, &size) == PUBLISH_KIND_MISSING;
    free(local);
    return missing;
}

// The visible part of a manifest line ends where its path ends, unless the
// launcher cut the path to 259 characters.
static int keepsWholePath(const char* line, const char* path) {
    size_t lineLength = strcspn(line, "\r\n");
    size_t pathLength = strlen(path);
    return lineLength >= pathLength && memcmp(line + lineLength - pathLength, path, pathLength) == 0;
}

// verify FOLDER [--manifest FILE] [--pub NAME.pub]: the files of a published
// folder against its manifest, read as the launcher reads it; with #objects,
// in the store too, and the signatures with --pub. With --manifest, FOLDER is
// checked as a client folder: the files at their paths.
int runVerify(const PublishOptions* options, FILE* out, FILE* err) {
    const char* manifestPath = options->manifest;
    const char* publicKeyPath = options->publicKey;
    int status = PUBLISH_EXIT_PROBLEM;
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], lineText[PUBLISH_MESSAGE_TEXT_SIZE];
    char* root = copyFolderName(options->operands[0]);
    char* defaultManifest = nullptr;
    char* text = nullptr;
    VerifyEntry* entries = nullptr;
    PathSet seen = {};
    PublishProgress progress = {};
    size_t length = 0, entryCount = 0, checkCount = 0, lineCount = 1, problems = 0, textLength = 0;
    uint64_t totalBytes = 0;
    const char* name = nullptr;
    char* line = nullptr;
    ManifestDirectives directives = {};
    size_t pathsThere = 0;
    int atPaths = 1, inStore = 0;

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
    readManifestDirectives(text, length, &directives);
    if (directives.malformed) {
        fprintf(out,
                "%s line %d: a directive that does not read (%d in all); a launcher with release keys takes this "
                "manifest as unsigned\n",
                name, directives.malformedLine, directives.malformed);
        ++problems;
    }
    if (publicKeyPath) problems += checkSignatures(publicKeyPath, manifestPath, text, length, &directives, out);
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
        if (isBlankText(current, strlen(current)) || isDirectiveLine(current)) continue;

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
            if (directives.objects) pathsThere += !isMissing(root, item->entry.path);
        }
    }
    // A store without the tree at the files' paths (release --no-paths) is
    // complete for launchers that read #objects. A manifest from elsewhere
    // checks a client folder, which holds the files at their paths alone.
    inStore = directives.objects && !options->manifest;
    atPaths = !inStore || pathsThere > 0;
    if (inStore && !atPaths) {
        fprintf(out, "%s: no file at its path; only launchers that read #objects can update from here\n", name);
    }

    startProgress(&progress, err, "checking", checkCount, totalBytes);
    for (size_t i = 0; i < entryCount; ++i) {
        if (!entries[i].checkFile) continue;
        uint64_t before = progress.doneBytes;
        const ManifestEntry* e = &entries[i].entry;
        if (!verifyEntry(root, &entries[i], inStore, atPaths, &progress, out) ||
            (inStore && !checkBlockIndex(root, &directives, e->sha256, e->size, &progress, out))) {
            ++problems;
        }
        finishProgressFile(&progress, before, entries[i].entry.size);
    }
    if (inStore && directives.hasLauncher &&
        (!checkObject(root, directives.launcherSha256, directives.launcherSize, "#launcher", &progress, out) ||
         !checkBlockIndex(root, &directives, directives.launcherSha256, directives.launcherSize, &progress, out))) {
        ++problems;
    }
    clearProgress(&progress);

    if (problems > 0) {
        fprintf(out, "%s: %zu problem(s)\n", name, problems);
    } else {
        fprintf(out, "%s: all %zu files match (%llu bytes)%s\n", name, checkCount, (unsigned long long)totalBytes,
                !inStore  ? ""
                : atPaths ? ", in the store and at their paths"
                          : ", in the store");
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
