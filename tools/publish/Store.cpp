#include <stdlib.h>
#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Publish.h"
#include "update/Directives.h"

enum { PUBLISH_FIRST_HISTORY_CAPACITY = 16 };

void formatObjectPath(const char* sha256, char* out) {
    memcpy(out, "objects/", 8);
    for (int i = 0; i < 2; ++i) out[8 + i] = asciiLower(sha256[i]);
    out[10] = '/';
    for (int i = 0; i < 64; ++i) out[11 + i] = asciiLower(sha256[i]);
    out[75] = 0;
}

int isObjectName(const char* relative) {
    for (int i = 0; i < 2; ++i) {
        if (relative[i] != relative[3 + i]) return 0;
    }
    if (relative[2] != '/') return 0;
    for (int i = 0; i < 64; ++i) {
        char c = relative[3 + i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
    }
    return relative[67] == 0;
}

int storeObject(const char* outRoot, const char* source, const char* sha256, uint64_t size, PublishProgress* progress,
                FILE* err) {
    char relative[PUBLISH_OBJECT_PATH_SIZE], digest[DIGEST_TEXT_SIZE];
    uint64_t objectSize = 0, hashed = 0;
    formatObjectPath(sha256, relative);
    char* object = joinLocalPath(outRoot, relative);
    if (!object) {
        fprintf(err, "orvel-publish: out of memory\n");
        return 0;
    }
    const char* problem = nullptr;
    int32_t kind = localFileKind(object, &objectSize);
    if (kind == PUBLISH_KIND_MISSING) {
        if (!makeFoldersFor(object) || !linkOrCopyReplacing(source, object, progress)) problem = "cannot be written";
    } else if (kind != PUBLISH_KIND_FILE) {
        problem = "is not a regular file";
    } else if (sameLocalFile(object, source)) {
        // A hard link of the file just hashed.
    } else if (objectSize != size || !hashLocalFile(object, digest, &hashed, progress) || hashed != size ||
               !equalsIgnoreCase(digest, sha256)) {
        // A published URL never changes its bytes; a damaged object is for
        // the operator to look into, not to paper over.
        problem =
            "is in the store but its bytes do not match its name (damaged, or changed in place); remove it "
            "and release again";
    }
    if (problem) {
        clearProgress(progress);
        fprintf(err, "orvel-publish: %s %s\n", relative, problem);
    }
    free(object);
    return problem == nullptr;
}

// "<digits>.txt", the name release gives a released manifest: its number, or 0.
static uint64_t historyNameNumber(const char* name) {
    const char* dot = strchr(name, '.');
    if (!dot || strcmp(dot, ".txt") != 0) return 0;
    return parseReleaseNumber(name, (size_t)(dot - name));
}

// The release number of the manifest at path, into number (0: none); 0 and
// the reason on err when it cannot be read or has directives that do not.
static int readReleaseNumber(const char* path, const char* shownName, uint64_t* number, FILE* err) {
    size_t length = 0;
    char* text = readWholeFile(path, &length);
    if (!text) {
        fprintf(err, "orvel-publish: cannot read %s\n", shownName);
        return 0;
    }
    ManifestDirectives directives;
    readManifestDirectives(text, length, &directives);
    free(text);
    if (directives.malformed) {
        fprintf(err, "orvel-publish: %s line %d: a directive that does not read; fix or remove that manifest\n",
                shownName, directives.malformedLine);
        return 0;
    }
    *number = directives.release;
    return 1;
}

int readReleaseHistory(const char* outRoot, ReleaseHistory* out, FILE* err) {
    *out = ReleaseHistory{};
    PublishFileList names = {};
    uint64_t size = 0;
    int result = 0;
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    char* folder = joinLocalPath(outRoot, PUBLISH_HISTORY_FOLDER);
    char* current = joinLocalPath(outRoot, "manifest.txt");
    if (!folder || !current) goto outOfMemory;
    if (localFileKind(current, &size) != PUBLISH_KIND_MISSING &&
        !readReleaseNumber(current, escapePath(shown, current), &out->current, err)) {
        goto cleanup;
    }
    if (localFileKind(folder, &size) != PUBLISH_KIND_MISSING && !walkClientFolder(folder, &names)) {
        fprintf(err, "orvel-publish: cannot list %s\n", escapePath(shown, folder));
        goto cleanup;
    }
    out->records = (ReleaseRecord*)calloc(names.count + 1, sizeof(ReleaseRecord));
    if (!out->records) goto outOfMemory;
    for (size_t i = 0; i < names.count; ++i) {
        uint64_t named = historyNameNumber(names.files[i].path);
        if (named == 0) continue;  // not one of ours
        ReleaseRecord* record = &out->records[out->count];
        record->path = joinLocalPath(folder, names.files[i].path);
        if (!record->path) goto outOfMemory;
        ++out->count;
        escapePath(shown, record->path);
        if (!readReleaseNumber(record->path, shown, &record->number, err)) goto cleanup;
        if (record->number != named) {
            fprintf(err, "orvel-publish: %s holds release %llu, not the one its name says\n", shown,
                    (unsigned long long)record->number);
            goto cleanup;
        }
    }
    result = 1;
    goto cleanup;

outOfMemory:
    fprintf(err, "orvel-publish: out of memory\n");
cleanup:
    freePublishFileList(&names);
    free(folder);
    free(current);
    return result;
}

uint64_t lastReleaseNumber(const ReleaseHistory* history) {
    uint64_t last = history->current;
    for (size_t i = 0; i < history->count; ++i) {
        if (history->records[i].number > last) last = history->records[i].number;
    }
    return last;
}

void freeReleaseHistory(ReleaseHistory* history) {
    for (size_t i = 0; i < history->count; ++i) free(history->records[i].path);
    free(history->records);
    *history = ReleaseHistory{};
}
