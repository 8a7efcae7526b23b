#include <stdlib.h>
#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/BlockIndex.h"
#include "update/Directives.h"

enum { PUBLISH_DIGEST_LENGTH = 64 };

struct DigestText {
    char text[DIGEST_TEXT_SIZE];  // lowercase
};

struct DigestSet {
    DigestText* digests;
    size_t count;
    size_t capacity;
};

static int addDigest(DigestSet* set, const char* sha256) {
    if (set->count == set->capacity) {
        size_t capacity = set->capacity ? set->capacity * 2 : 1024;
        DigestText* grown = (DigestText*)realloc(set->digests, capacity * sizeof(DigestText));
        if (!grown) return 0;
        set->digests = grown;
        set->capacity = capacity;
    }
    for (int i = 0; i < PUBLISH_DIGEST_LENGTH; ++i) set->digests[set->count].text[i] = asciiLower(sha256[i]);
    set->digests[set->count++].text[PUBLISH_DIGEST_LENGTH] = 0;
    return 1;
}

static int compareDigests(const void* a, const void* b) {
    return strcmp(((const DigestText*)a)->text, ((const DigestText*)b)->text);
}

// Every digest a manifest lists, its launcher's included; 0 after telling why.
static int addListedDigests(DigestSet* set, const char* manifestPath, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    size_t length = 0;
    char* text = readWholeFile(manifestPath, &length);
    if (!text) {
        fprintf(err, "orvel-publish: cannot read %s; nothing removed\n", escapePath(shown, manifestPath));
        return 0;
    }
    ManifestDirectives directives;
    readManifestDirectives(text, length, &directives);
    int added = !directives.hasLauncher || addDigest(set, directives.launcherSha256);
    for (char* line = text; added && line && *line;) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        ManifestEntry entry;
        // Whatever names a digest is kept; lines no launcher reads cost nothing.
        if (!isDirectiveLine(line) && parseManifestFields(line, &entry) && isDigestText(entry.sha256)) {
            added = addDigest(set, entry.sha256);
        }
        line = lineFeed ? lineFeed + 1 : nullptr;
    }
    free(text);
    if (!added) fprintf(err, "orvel-publish: out of memory; nothing removed\n");
    return added;
}

static int compareNewestFirst(const void* a, const void* b) {
    uint64_t x = ((const ReleaseRecord*)a)->number, y = ((const ReleaseRecord*)b)->number;
    return x > y ? -1 : x < y;
}

// The name is "<2 hex>/<anything>.part": a copy into the store cut short.
static int isUnfinishedObject(const char* relative) {
    size_t length = strlen(relative);
    return length > 8 && relative[2] == '/' && strchr(relative + 3, '/') == nullptr &&
           strcmp(relative + length - 5, ".part") == 0;
}

// The name is "<2 hex>/<sha256>.blocks": an object's block index, which goes with it.
static int isIndexName(const char* relative) {
    char name[PUBLISH_OBJECT_PATH_SIZE];
    if (strlen(relative) != 67 + sizeof(BLOCK_INDEX_SUFFIX) - 1 || strcmp(relative + 67, BLOCK_INDEX_SUFFIX) != 0) {
        return 0;
    }
    memcpy(name, relative, 67);
    name[67] = 0;
    return isObjectName(name);
}

// prune OUT --keep K: removes the objects that none of the last K releases
// (nor OUT/manifest.txt) lists, and forgets the older releases.
int runPrune(const PublishOptions* options, FILE* out, FILE* err) {
    int status = PUBLISH_EXIT_PROBLEM;
    char* outRoot = copyFolderName(options->operands[0]);
    char *objects = nullptr, *current = nullptr;
    ReleaseHistory history = {};
    DigestSet keep = {};
    PublishFileList stored = {};
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    size_t kept = 0, removed = 0, removedIndexes = 0, failed = 0;
    uint64_t removedBytes = 0, size = 0;
    int hasCurrent = 0;

    if (!outRoot) goto outOfMemory;
    objects = joinLocalPath(outRoot, "objects");
    current = joinLocalPath(outRoot, "manifest.txt");
    if (!objects || !current) goto outOfMemory;
    if (!readReleaseHistory(outRoot, &history, err)) {
        fprintf(err, "orvel-publish: nothing removed\n");
        goto cleanup;
    }
    hasCurrent = localFileKind(current, &size) == PUBLISH_KIND_FILE;
    if (history.count == 0 && !hasCurrent) {
        fprintf(err, "orvel-publish: no release in %s; nothing removed\n", escapePath(shown, outRoot));
        goto cleanup;
    }
    // The manifest being served is kept whatever its number.
    if (hasCurrent && !addListedDigests(&keep, current, err)) goto cleanup;
    if (history.count > 1) qsort(history.records, history.count, sizeof(ReleaseRecord), compareNewestFirst);
    kept = history.count < (size_t)options->keep ? history.count : (size_t)options->keep;
    for (size_t i = 0; i < kept; ++i) {
        if (!addListedDigests(&keep, history.records[i].path, err)) goto cleanup;
    }
    if (keep.count > 1) qsort(keep.digests, keep.count, sizeof(DigestText), compareDigests);

    if (localFileKind(objects, &size) != PUBLISH_KIND_MISSING && !walkClientFolder(objects, &stored)) {
        fprintf(err, "orvel-publish: cannot list %s; nothing removed\n", escapePath(shown, objects));
        goto cleanup;
    }
    for (size_t i = 0; i < stored.count; ++i) {
        const PublishFile* f = &stored.files[i];
        DigestText name = {};
        if (f->kind != PUBLISH_KIND_FILE) continue;
        int index = isIndexName(f->path);
        if (index || isObjectName(f->path)) {
            memcpy(name.text, f->path + 3, PUBLISH_DIGEST_LENGTH);
            if (keep.count > 0 && bsearch(&name, keep.digests, keep.count, sizeof(DigestText), compareDigests))
                continue;
        } else if (!isUnfinishedObject(f->path)) {
            continue;  // not the store's: left alone
        }
        char* local = joinLocalPath(objects, f->path);
        if (local && remove(local) == 0) {
            fprintf(out, "removed objects/%s (%llu bytes)\n", escapePath(shown, f->path), (unsigned long long)f->size);
            ++(index ? removedIndexes : removed);
            removedBytes += f->size;
        } else {
            fprintf(err, "orvel-publish: cannot remove objects/%s\n", escapePath(shown, f->path));
            ++failed;
        }
        free(local);
    }
    // Older releases can no longer be served from this store.
    for (size_t i = kept; i < history.count; ++i) {
        if (remove(history.records[i].path) == 0) {
            fprintf(out, "forgot release %llu\n", (unsigned long long)history.records[i].number);
        } else {
            fprintf(err, "orvel-publish: cannot remove %s\n", escapePath(shown, history.records[i].path));
            ++failed;
        }
    }
    fprintf(out, "%zu object(s) ", removed);
    if (removedIndexes > 0) fprintf(out, "and %zu block index(es) ", removedIndexes);
    fprintf(out, "removed, %llu bytes; the last %zu release(s) and manifest.txt keep theirs\n",
            (unsigned long long)removedBytes, kept);
    if (failed == 0) status = PUBLISH_EXIT_OK;
    goto cleanup;

outOfMemory:
    fprintf(err, "orvel-publish: out of memory\n");
cleanup:
    freePublishFileList(&stored);
    free(keep.digests);
    freeReleaseHistory(&history);
    free(current);
    free(objects);
    free(outRoot);
    return status;
}
