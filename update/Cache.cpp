#include "update/Cache.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"

void* (*cacheReallocate)(void* block, size_t size) = realloc;

static uint32_t foldedPathHash(const char* path) {
    uint32_t hash = 2166136261u;  // FNV-1a over the case-folded bytes
    for (; *path; ++path) {
        hash ^= (unsigned char)asciiLower(*path);
        hash *= 16777619u;
    }
    return hash;
}

// Slot of the first record of path, or of the empty slot where it belongs.
static uint32_t findSlot(const CacheIndex* index, const CacheEntry* entries, const char* path) {
    uint32_t mask = index->slotCount - 1;
    uint32_t slot = foldedPathHash(path) & mask;
    while (index->slots[slot] != 0) {
        if (equalsIgnoreCase(entries[index->slots[slot] - 1].path, path)) break;
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

// Doubles the array and rebuilds the index. Nothing changes unless both
// allocations succeed.
static int growCache() {
    LauncherState& s = launcherState;
    int64_t newCapacity = s.cacheCapacity == 0 ? (int64_t)CACHE_FIRST_CAPACITY : (int64_t)s.cacheCapacity * 2;
    if (newCapacity > INT32_MAX / 2) return 0;
    uint64_t newSlotCount = (uint64_t)newCapacity * 2;

    int32_t* slots = (int32_t*)cacheReallocate(nullptr, newSlotCount * sizeof(int32_t));
    if (!slots) return 0;
    CacheEntry* entries = (CacheEntry*)cacheReallocate(s.cacheEntries, (size_t)newCapacity * sizeof(CacheEntry));
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

CacheEntry* findCacheEntry(const char* path) {
    LauncherState& s = launcherState;
    if (s.cacheCount == 0) return nullptr;
    int32_t record = s.cacheIndex.slots[findSlot(&s.cacheIndex, s.cacheEntries, path)];
    return record ? &s.cacheEntries[record - 1] : nullptr;
}

CacheEntry* addCacheEntry(const char* path) {
    LauncherState& s = launcherState;
    if (s.cacheCount == s.cacheCapacity && !growCache()) return nullptr;
    CacheEntry* entry = &s.cacheEntries[s.cacheCount];
    memset(entry, 0, sizeof(*entry));
    formatText(entry->path, sizeof(entry->path), "%s", path);
    indexRecord(&s.cacheIndex, s.cacheEntries, s.cacheCount);
    ++s.cacheCount;
    return entry;
}

void dropCacheEntry(const char* path) {
    CacheEntry* entry = findCacheEntry(path);
    if (entry) entry->size = 0;
}

void clearCache() {
    LauncherState& s = launcherState;
    s.cacheCount = 0;
    if (s.cacheIndex.slots) memset(s.cacheIndex.slots, 0, s.cacheIndex.slotCount * sizeof(int32_t));
}

int parseCacheLine(const char* line, CacheEntry* out) {
    unsigned long long size = 0;
    unsigned int high = 0, low = 0;
    if (sscanf(line, "%64s %llu %u %u %259[^\r\n]", out->sha256, &size, &high, &low, out->path) != 5) return 0;
    out->size = size;
    out->writeTime.high = high;
    out->writeTime.low = low;
    return 1;
}

void loadCacheFile(const char* fileName) {
    FILE* file = fopen(fileName, "r");
    if (!file) return;
    clearCache();
    char line[CACHE_READ_BUFFER_SIZE];
    CacheEntry parsed;
    // A line longer than the buffer arrives in pieces, each parsed on its own.
    while (fgets(line, sizeof(line), file)) {
        if (!parseCacheLine(line, &parsed)) continue;
        CacheEntry* entry = addCacheEntry(parsed.path);
        if (!entry) break;
        *entry = parsed;
    }
    fclose(file);
}

void saveCacheFile(const char* fileName) {
    FILE* file = fopen(fileName, "w");
    if (!file) return;
    const LauncherState& s = launcherState;
    for (int32_t i = 0; i < s.cacheCount; ++i) {
        const CacheEntry& e = s.cacheEntries[i];
        if (e.size == 0) continue;
        fprintf(file, "%s %llu %u %u %s\n", e.sha256, (unsigned long long)e.size, e.writeTime.high,
                e.writeTime.low, e.path);
    }
    fclose(file);
}

static int cacheFileName(char* out, size_t size) {
    return formatText(out, size, "%s\\OrvelLauncher.cache", launcherState.clientDir);
}

void loadCache() {
    char fileName[260];
    cacheFileName(fileName, sizeof(fileName));
    loadCacheFile(fileName);
}

void saveCache() {
    char fileName[260];
    cacheFileName(fileName, sizeof(fileName));
    saveCacheFile(fileName);
}
