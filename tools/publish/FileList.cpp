#include <stdlib.h>
#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Publish.h"

enum { PUBLISH_FIRST_LIST_CAPACITY = 256 };

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
