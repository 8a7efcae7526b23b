#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "tools/publish/Publish.h"

enum { PUBLISH_READ_BLOCK_SIZE = 65536, PUBLISH_COPY_BLOCK_SIZE = 1048576 };

int setReason(char* reason, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(reason, size, format, args);
    va_end(args);
    return 1;
}

const char* escapeText(char* out, size_t outSize, const char* text, size_t length) {
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

const char* escapePath(char* out, const char* path) {
    return escapeText(out, PUBLISH_MESSAGE_TEXT_SIZE, path, strlen(path));
}

static int isSeparator(char c) { return c == '/' || c == '\\'; }

char* copyFolderName(const char* folder) {
    size_t length = strlen(folder);
    while (length > 1 && isSeparator(folder[length - 1]) && folder[length - 2] != ':') --length;
    char* copy = (char*)malloc(length + 1);
    if (!copy) return nullptr;
    memcpy(copy, folder, length);
    copy[length] = 0;
    return copy;
}

char* joinLocalPath(const char* folder, const char* path) {
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

char* readWholeFile(const char* path, size_t* length) {
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

char* withSuffix(const char* path, const char* suffix) {
    size_t pathLength = strlen(path), suffixLength = strlen(suffix);
    char* joined = (char*)malloc(pathLength + suffixLength + 1);
    if (!joined) return nullptr;
    memcpy(joined, path, pathLength);
    memcpy(joined + pathLength, suffix, suffixLength + 1);
    return joined;
}

int writeReplacing(const char* path, const void* bytes, size_t length) {
    char* partPath = withSuffix(path, ".part");
    if (!partPath) return 0;
    // A leftover part may be a hard link of a published file: never write into it.
    remove(partPath);
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

int isBlankText(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') return 0;
    }
    return 1;
}

// Copies from into partPath, counting the bytes on progress.
static int copyInto(const char* from, const char* partPath, PublishProgress* progress) {
    FILE* source = fopen(from, "rb");
    FILE* target = source ? fopen(partPath, "wb") : nullptr;
    char* buffer = (char*)malloc(PUBLISH_COPY_BLOCK_SIZE);
    int copied = source && target && buffer;
    while (copied) {
        size_t n = fread(buffer, 1, PUBLISH_COPY_BLOCK_SIZE, source);
        if (n == 0) break;
        if (fwrite(buffer, 1, n, target) != n) copied = 0;
        addHashedBytes(progress, n);
    }
    if (source && ferror(source)) copied = 0;
    if (target && fclose(target) != 0) copied = 0;
    if (source) fclose(source);
    free(buffer);
    return copied;
}

int linkOrCopyReplacing(const char* from, const char* to, PublishProgress* progress) {
    char* partPath = withSuffix(to, ".part");
    if (!partPath) return 0;
    remove(partPath);
    int placed = (makeHardLink(from, partPath) || copyInto(from, partPath, progress)) && replaceFile(partPath, to);
    if (!placed) remove(partPath);
    free(partPath);
    return placed;
}

int makeFoldersFor(const char* path) {
    size_t length = strlen(path);
    char* folder = (char*)malloc(length + 1);
    if (!folder) return 0;
    memcpy(folder, path, length + 1);
    int made = 1;
    // Every folder on the way, the root's own included; only the last answer counts.
    for (size_t i = 1; i < length; ++i) {
        if (!isSeparator(folder[i])) continue;
        folder[i] = 0;
        made = makeFolder(folder);
        folder[i] = path[i];
    }
    free(folder);
    return made;
}
