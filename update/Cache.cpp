#include "update/Cache.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/ClientPath.h"
#include "update/Digest.h"

void* (*gCacheReallocate)(void* block, size_t size) = realloc;

// Slot of the first record of path, or of the empty slot where it belongs.
// Paths compare as the path set compares them (update/ClientPath.h).
static uint32_t findSlot(CacheIndex* index, const CacheEntry* entries, const char* path) {
    uint32_t mask = index->slotCount - 1;
    size_t length = strlen(path);
    uint32_t slot = (uint32_t)clientPathHash(path, length) & mask;
    for (++index->probes; index->slots[slot] != 0; ++index->probes) {
        const char* stored = entries[index->slots[slot] - 1].path;
        if (compareClientPaths(stored, strlen(stored), path, length) == 0) break;
        slot = (slot + 1) & mask;
    }
    return slot;
}

static void indexRecord(CacheIndex* index, const CacheEntry* entries, int32_t record) {
    uint32_t slot = findSlot(index, entries, entries[record].path);
    // An earlier record of the same path keeps the slot: lookups and drops
    // act on the first record of a path.
    if (index->slots[slot] == 0) index->slots[slot] = record + 1;
}

// Grows the array to the first capacity of 4,096 times a power of two that
// holds records, and rebuilds the index. Nothing changes unless both
// allocations succeed.
static int growCache(size_t records) {
    LauncherState& s = launcherState;
    int64_t newCapacity = s.cacheCapacity == 0 ? (int64_t)CACHE_FIRST_CAPACITY : (int64_t)s.cacheCapacity * 2;
    while ((size_t)newCapacity < records && newCapacity <= INT32_MAX / 2) newCapacity *= 2;
    if (newCapacity > INT32_MAX / 2) return 0;
    uint64_t newSlotCount = (uint64_t)newCapacity * 2;

    int32_t* slots = (int32_t*)gCacheReallocate(nullptr, newSlotCount * sizeof(int32_t));
    if (!slots) return 0;
    CacheEntry* entries = (CacheEntry*)gCacheReallocate(s.cacheEntries, (size_t)newCapacity * sizeof(CacheEntry));
    if (!entries) {
        free(slots);
        return 0;
    }
    memset(slots, 0, newSlotCount * sizeof(int32_t));
    free(s.cacheIndex.slots);
    s.cacheEntries = entries;
    s.cacheCapacity = (int32_t)newCapacity;
    s.cacheIndex.slots = slots;
    s.cacheIndex.slotCount = (uint32_t)newSlotCount;
    for (int32_t i = 0; i < s.cacheCount; ++i) indexRecord(&s.cacheIndex, s.cacheEntries, i);
    return 1;
}

// In one step: under Wine every growth copies the array and touches fresh memory.
int reserveCache(size_t records) { return (size_t)launcherState.cacheCapacity >= records || growCache(records); }

CacheEntry* findCacheEntry(const char* path) {
    LauncherState& s = launcherState;
    if (s.cacheCount == 0) return nullptr;
    int32_t record = s.cacheIndex.slots[findSlot(&s.cacheIndex, s.cacheEntries, path)];
    return record ? &s.cacheEntries[record - 1] : nullptr;
}

CacheEntry* addCacheEntry(const char* path) {
    LauncherState& s = launcherState;
    if (s.cacheCount == s.cacheCapacity && !growCache(0)) return nullptr;
    CacheEntry* entry = &s.cacheEntries[s.cacheCount];
    memset(entry, 0, sizeof(*entry));
    // Cut to 259 characters; the zeroed record holds the terminator.
    size_t length = strlen(path);
    memcpy(entry->path, path, length < sizeof(entry->path) ? length : sizeof(entry->path) - 1);
    indexRecord(&s.cacheIndex, s.cacheEntries, s.cacheCount);
    ++s.cacheCount;
    return entry;
}

// The digest's first 8 bytes: a digest is as good a hash as any. Callers
// have checked that sha256 is a digest text.
static uint32_t digestSlot(const CacheIndex* index, const char* sha256) {
    unsigned char digest[SHA256_SIZE];
    digestFromHex(sha256, digest);
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | digest[i];
    return (uint32_t)(value ^ value >> 32) & (index->slotCount - 1);
}

int indexCacheDigests() {
    LauncherState& s = launcherState;
    CacheIndex* index = &s.cacheDigestIndex;
    uint32_t slotCount = 2;
    while (slotCount < 2u * (uint32_t)s.cacheCount) slotCount *= 2;
    if (slotCount > index->slotCount) {
        int32_t* slots = (int32_t*)gCacheReallocate(index->slots, (size_t)slotCount * sizeof(int32_t));
        if (!slots) {
            freeCacheDigestIndex();
            return 0;
        }
        index->slots = slots;
        index->slotCount = slotCount;
    }
    memset(index->slots, 0, (size_t)index->slotCount * sizeof(int32_t));
    for (int32_t i = 0; i < s.cacheCount; ++i) {
        if (s.cacheEntries[i].size == 0 || !isDigestText(s.cacheEntries[i].sha256)) continue;
        uint32_t slot = digestSlot(index, s.cacheEntries[i].sha256);
        while (index->slots[slot] != 0) slot = (slot + 1) & (index->slotCount - 1);
        index->slots[slot] = i + 1;
    }
    return 1;
}

void freeCacheDigestIndex() {
    CacheIndex* index = &launcherState.cacheDigestIndex;
    free(index->slots);
    *index = CacheIndex{};
}

const CacheEntry* nextCacheEntryWithDigest(const char* sha256, uint32_t* cursor) {
    const LauncherState& s = launcherState;
    const CacheIndex* index = &s.cacheDigestIndex;
    if (index->slotCount == 0 || !isDigestText(sha256)) return nullptr;
    // The cursor counts the slots looked at, from the digest's own slot on.
    uint32_t mask = index->slotCount - 1, first = digestSlot(index, sha256);
    for (; *cursor < index->slotCount; ++*cursor) {
        int32_t record = index->slots[(first + *cursor) & mask];
        if (record == 0) break;
        const CacheEntry* entry = &s.cacheEntries[record - 1];
        if (entry->size != 0 && equalsIgnoreCase(entry->sha256, sha256)) {
            ++*cursor;
            return entry;
        }
    }
    *cursor = index->slotCount;
    return nullptr;
}

void dropCacheEntry(const char* path) {
    CacheEntry* entry = findCacheEntry(path);
    if (entry) entry->size = 0;
}

void clearCache() {
    LauncherState& s = launcherState;
    s.cacheCount = 0;
    if (s.cacheIndex.slots) memset(s.cacheIndex.slots, 0, s.cacheIndex.slotCount * sizeof(int32_t));
    if (s.cacheDigestIndex.slots) memset(s.cacheDigestIndex.slots, 0, s.cacheDigestIndex.slotCount * sizeof(int32_t));
}

// Reads 1 to maxDigits decimal digits followed by one space. Returns
// the position after the space, or null.
static const char* readDecimalField(const char* p, int maxDigits, uint64_t* value) {
    uint64_t result = 0;
    int count = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (++count > maxDigits) return nullptr;
        result = result * 10 + (uint64_t)(*p - '0');
    }
    if (count == 0 || *p != ' ') return nullptr;
    *value = result;
    return p + 1;
}

static int isPlainCharacter(char c) { return c > ' ' && c < 127; }

// The line as the cache writes it: 64 plain characters, three numbers that
// fit their fields, and a path of plain characters up to CR, LF or the end.
// Every C library's sscanf reads such a line alike, and reading it by hand
// spares the scanf call that costs microseconds a line under Wine. Returns
// 0, with out untouched, for any other line.
static int parseWrittenCacheLine(const char* line, CacheEntry* out) {
    for (int i = 0; i < 64; ++i) {
        if (!isPlainCharacter(line[i])) return 0;
    }
    if (line[64] != ' ') return 0;
    uint64_t size = 0, high = 0, low = 0;
    const char* p = readDecimalField(line + 65, 19, &size);
    if (p) p = readDecimalField(p, 10, &high);
    if (p) p = readDecimalField(p, 10, &low);
    if (!p || high > UINT32_MAX || low > UINT32_MAX || !isPlainCharacter(*p)) return 0;
    size_t length = 0;
    for (; length < sizeof(out->path) - 1; ++length) {
        char c = p[length];
        if (c == 0 || c == '\r' || c == '\n') break;
        if (c < ' ' || c >= 127) return 0;
    }
    memcpy(out->sha256, line, 64);
    out->sha256[64] = 0;
    out->size = size;
    out->writeTime.high = (uint32_t)high;
    out->writeTime.low = (uint32_t)low;
    memcpy(out->path, p, length);
    out->path[length] = 0;
    return 1;
}

int parseCacheLine(const char* line, CacheEntry* out) {
    if (parseWrittenCacheLine(line, out)) return 1;
    unsigned long long size = 0;
    unsigned int high = 0, low = 0;
    if (sscanf(line, "%64s %llu %u %u %259[^\r\n]", out->sha256, &size, &high, &low, out->path) != 5) return 0;
    out->size = size;
    out->writeTime.high = high;
    out->writeTime.low = low;
    return 1;
}

// Parses one line of the file. The file was once read 387 characters at a
// time, each piece parsed as a line: a longer line still reads so.
static int loadCacheLine(const char* line, size_t length) {
    CacheEntry parsed;
    char piece[CACHE_READ_BUFFER_SIZE];
    for (size_t start = 0; start < length || start == 0; start += CACHE_READ_BUFFER_SIZE - 1) {
        size_t pieceLength = length - start < CACHE_READ_BUFFER_SIZE - 1 ? length - start : CACHE_READ_BUFFER_SIZE - 1;
        memcpy(piece, line + start, pieceLength);
        piece[pieceLength] = 0;
        if (!parseCacheLine(piece, &parsed)) continue;
        CacheEntry* entry = addCacheEntry(parsed.path);
        if (!entry) return 0;
        *entry = parsed;
    }
    return 1;
}

void loadCacheText(const char* text, size_t length) {
    clearCache();
    // Room at once for the records the file holds, judged by its lines but
    // never beyond what its bytes hold as the launcher writes records (more
    // than 70 bytes each): a file of blank lines reserves nothing to speak of.
    size_t lines = 0;
    for (size_t i = 0; i < length; ++i) lines += text[i] == '\n';
    size_t mostRecords = length / CACHE_SHORTEST_LINE + 1;
    reserveCache(lines < mostRecords ? lines + 1 : mostRecords);
    for (size_t start = 0; start < length;) {
        const char* lineFeed = (const char*)memchr(text + start, '\n', length - start);
        size_t end = lineFeed ? (size_t)(lineFeed - text) + 1 : length;  // the line feed belongs to its line
        if (!loadCacheLine(text + start, end - start)) return;
        start = end;
    }
}

void loadCacheFile(const char* fileName) {
    // Read in one pass: a line at a time costs microseconds each under Wine.
    FILE* file = fopen(fileName, "rb");
    if (!file) return;
    char* text = nullptr;
    size_t length = 0, capacity = 0;
    for (;;) {
        if (capacity - length < 65536) {
            char* grown = (char*)gCacheReallocate(text, capacity ? capacity * 2 : 1 << 20);
            if (!grown) break;
            text = grown;
            capacity = capacity ? capacity * 2 : 1 << 20;
        }
        size_t got = fread(text + length, 1, capacity - length, file);
        if (got == 0) break;
        length += got;
    }
    fclose(file);
    if (text) loadCacheText(text, length);
    free(text);
}

static char* appendText(char* out, const char* text, size_t length) {
    memcpy(out, text, length);
    return out + length;
}

static char* appendDecimal(char* out, uint64_t value) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

int saveCacheFile(const char* fileName) {
    FILE* file = fopen(fileName, "w");
    if (!file) return 0;
    int written = 1;
    const LauncherState& s = launcherState;
    char line[CACHE_WRITE_LINE_SIZE];
    for (int32_t i = 0; i < s.cacheCount; ++i) {
        const CacheEntry& e = s.cacheEntries[i];
        if (e.size == 0) continue;
        // "%s %llu %u %u %s\n" formatted by hand: fprintf goes through the
        // C library character by character, microseconds a line under Wine.
        size_t digestLength = strlen(e.sha256), pathLength = strlen(e.path);
        if (digestLength > 64 || pathLength > sizeof(e.path) - 1) {
            if (fprintf(file, "%s %llu %u %u %s\n", e.sha256, (unsigned long long)e.size, e.writeTime.high,
                        e.writeTime.low, e.path) < 0) {
                written = 0;
            }
            continue;
        }
        char* end = appendText(line, e.sha256, digestLength);
        *end++ = ' ';
        end = appendDecimal(end, e.size);
        *end++ = ' ';
        end = appendDecimal(end, e.writeTime.high);
        *end++ = ' ';
        end = appendDecimal(end, e.writeTime.low);
        *end++ = ' ';
        end = appendText(end, e.path, pathLength);
        *end++ = '\n';
        if (fwrite(line, 1, (size_t)(end - line), file) != (size_t)(end - line)) written = 0;
    }
    if (fclose(file) != 0) written = 0;
    return written;
}
