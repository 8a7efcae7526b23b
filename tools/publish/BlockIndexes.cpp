#include <stdlib.h>
#include <string.h>

#include "tools/publish/Publish.h"

enum { PUBLISH_INDEX_READ_SIZE = 1048576 };

void publishBlockDirectives(ManifestDirectives* out) {
    *out = ManifestDirectives{};
    out->objects = 1;
    out->hasBlocks = 1;
    out->blockSize = PUBLISH_BLOCK_SIZE;
    out->blockMinSize = PUBLISH_BLOCK_MIN_SIZE;
}

void formatIndexPath(const char* sha256, char* out) {
    formatObjectPath(sha256, out);
    strcat(out, BLOCK_INDEX_SUFFIX);
}

// The index of the file at path, read a piece at a time; 0 unless it held
// exactly size bytes.
static int indexLocalFile(const char* path, const char* sha256, uint64_t size, BlockIndexWriter* writer,
                          PublishProgress* progress) {
    FILE* file = fopen(path, "rb");
    unsigned char* buffer = (unsigned char*)malloc(PUBLISH_INDEX_READ_SIZE);
    int indexed = file && buffer && beginBlockIndex(writer, PUBLISH_BLOCK_SIZE);
    while (indexed) {
        size_t n = fread(buffer, 1, PUBLISH_INDEX_READ_SIZE, file);
        if (n == 0) break;
        indexed = addBlockIndexBytes(writer, buffer, n);
        addHashedBytes(progress, n);
    }
    indexed = indexed && !ferror(file) && writer->fileSize == size && finishBlockIndex(writer, sha256);
    free(buffer);
    if (file) fclose(file);
    return indexed;
}

// The index stored at path against the one just made: it is read only when
// its size is right.
static int storedIndexState(const char* path, const BlockIndexWriter* made) {
    uint64_t size = 0;
    size_t length = 0;
    int32_t kind = localFileKind(path, &size);
    if (kind == PUBLISH_KIND_MISSING) return PUBLISH_INDEX_MISSING;
    if (kind != PUBLISH_KIND_FILE || size != made->length) return PUBLISH_INDEX_WRONG;
    char* stored = readWholeFile(path, &length);
    int same = stored && length == made->length && memcmp(stored, made->data, length) == 0;
    free(stored);
    return same ? PUBLISH_INDEX_RIGHT : PUBLISH_INDEX_WRONG;
}

int syncBlockIndex(const char* outRoot, const char* sha256, uint64_t size, int write, PublishProgress* progress) {
    char objectName[PUBLISH_OBJECT_PATH_SIZE], indexName[PUBLISH_INDEX_PATH_SIZE];
    formatObjectPath(sha256, objectName);
    formatIndexPath(sha256, indexName);
    char* object = joinLocalPath(outRoot, objectName);
    char* index = joinLocalPath(outRoot, indexName);
    BlockIndexWriter writer = {};
    int state = PUBLISH_INDEX_UNREADABLE;
    if (object && index && indexLocalFile(object, sha256, size, &writer, progress)) {
        state = storedIndexState(index, &writer);
        if (state == PUBLISH_INDEX_MISSING && write && writeReplacing(index, writer.data, writer.length)) {
            state = PUBLISH_INDEX_RIGHT;
        }
    }
    endBlockIndex(&writer);
    free(index);
    free(object);
    return state;
}
