#include <stdlib.h>
#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Publish.h"
#include "update/PathSet.h"

int formatManifestLine(char* out, size_t outSize, const char* sha256, uint64_t size, const char* manifestPath) {
    return formatText(out, outSize, "%s %llu %s\r\n", sha256, (unsigned long long)size, manifestPath);
}

int manifestLineReadsBack(const char* line, const char* sha256, uint64_t size, const char* manifestPath) {
    ManifestEntry entry;
    if (!parseManifestLine(line, &entry)) return 0;
    return strcmp(entry.sha256, sha256) == 0 && entry.size == size && strcmp(entry.path, manifestPath) == 0;
}

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

// Names once each folder of a listed file that the launcher makes only in a
// short client folder path.
static void warnOfDeepFolders(const PublishFileList* list, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], folder[PUBLISH_WALK_PATH_SIZE];
    PathSet warned = {};
    for (size_t i = 0; i < list->count; ++i) {
        const char* path = list->files[i].path;
        size_t length = deepFolderLength(path);
        if (length == 0 || skippedPathNote(path) || length >= sizeof(folder)) continue;
        memcpy(folder, path, length);
        folder[length] = 0;
        if (!addPathOnce(&warned, folder)) continue;
        fprintf(err,
                "warning: %s/ is %zu characters long: Windows makes this folder only in a client folder of at most "
                "%d characters, and the launcher refuses its files in a longer one\n",
                escapePath(shown, folder), length, PUBLISH_FOLDER_PATH_LIMIT - 1 - (int)length);
    }
    freePathSet(&warned);
}

// Takes the file that is excludedFile (by identity, whatever its name here)
// out of the list, with a note.
static size_t dropExcludedFile(PublishFileList* list, const char* root, const char* excludedFile, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    uint64_t excludedSize = 0;
    size_t dropped = 0;
    if (!excludedFile || localFileKind(excludedFile, &excludedSize) != PUBLISH_KIND_FILE) return 0;
    for (size_t i = 0; i < list->count;) {
        PublishFile* f = &list->files[i];
        char* local = f->kind == PUBLISH_KIND_FILE && f->size == excludedSize ? joinLocalPath(root, f->path) : nullptr;
        int same = local && sameLocalFile(local, excludedFile);
        free(local);
        if (!same) {
            ++i;
            continue;
        }
        fprintf(err, "skipped: %s (the launcher given with --launcher)\n", escapePath(shown, f->path));
        free(f->path);
        *f = list->files[--list->count];
        ++dropped;
    }
    return dropped;
}

int listClientFolder(const char* root, int clientDirLength, const char* excludedFile, ClientListing* out, FILE* err) {
    *out = ClientListing{};
    int result = 0;
    PublishFileList* list = &out->list;
    PublishProgress progress = {};
    size_t refused = 0, skipped = 0, listed = 0, textUsed = 0;
    uint64_t totalBytes = 0;
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], reason[PUBLISH_REASON_SIZE];
    char* lines = nullptr;

    if (!walkClientFolder(root, list)) {
        fprintf(err, "orvel-publish: cannot list the folder %s\n", escapePath(shown, root));
        goto cleanup;
    }
    skipped = dropExcludedFile(list, root, excludedFile, err);
    if (!markCaseTwins(list)) goto outOfMemory;

    for (size_t i = 0; i < list->count; ++i) {
        const PublishFile* f = &list->files[i];
        const char* note = skippedPathNote(f->path);
        if (note) {
            fprintf(err, "skipped: %s (%s)\n", escapePath(shown, f->path), note);
            ++skipped;
            continue;
        }
        if (findFileRefusal(list, f, clientDirLength, reason, sizeof(reason))) {
            fprintf(err, "refused: %s: %s\n", escapePath(shown, f->path), reason);
            ++refused;
        } else {
            ++listed;
            totalBytes += f->size;
        }
    }
    if (refused > 0) goto cleanup;
    warnOfDeepFolders(list, err);

    startProgress(&progress, err, "hashing", listed, totalBytes);
    for (size_t i = 0; i < list->count; ++i) {
        PublishFile* f = &list->files[i];
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
    if (refused > 0) goto cleanup;

    lines = (char*)malloc(listed * PUBLISH_LINE_SIZE + 1);
    if (!lines) goto outOfMemory;
    lines[0] = 0;
    for (size_t i = 0; i < list->count; ++i) {
        const PublishFile* f = &list->files[i];
        if (skippedPathNote(f->path)) continue;
        char manifestPath[RELATIVE_PATH_SIZE];
        char* line = lines + textUsed;
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
    out->text = lines;
    out->textLength = textUsed;
    lines = nullptr;
    result = 1;
    goto cleanup;

outOfMemory:
    fprintf(err, "orvel-publish: out of memory\n");
cleanup:
    clearProgress(&progress);
    free(lines);
    out->listed = listed;
    out->skipped = skipped;
    out->refused = refused;
    out->totalBytes = totalBytes;
    return result;
}

void freeClientListing(ClientListing* listing) {
    freePublishFileList(&listing->list);
    free(listing->text);
    *listing = ClientListing{};
}

void formatUtcTime(int64_t seconds, char* out) {
    // Days to a date of the proleptic Gregorian calendar, the inverse of
    // parseUtcTime's count (update/Directives.cpp).
    int64_t days = seconds / 86400, rest = seconds % 86400;
    days += 719468;
    int64_t era = days / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2);
    formatText(out, PUBLISH_UTC_TIME_SIZE, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", (long long)year,
               (long long)month, (long long)day, (long long)(rest / 3600), (long long)(rest / 60 % 60),
               (long long)(rest % 60));
}
