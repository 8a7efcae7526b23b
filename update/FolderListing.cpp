#include "update/FolderListing.h"

#include <stdlib.h>
#include <string.h>

#include "shell/Text.h"
#include "update/Check.h"
#include "update/ClientPath.h"

static int compareFolded(const char* a, const char* b) { return compareClientPaths(a, strlen(a), b, strlen(b)); }

int addListedFile(FolderListing* listing, const char* name, const ListedFile* file) {
    size_t length = strlen(name) + 1;
    if (listing->namesUsed + length > listing->namesCapacity) {
        size_t capacity = listing->namesCapacity ? listing->namesCapacity * 2 : 4096;
        while (capacity < listing->namesUsed + length) capacity *= 2;
        if (capacity > UINT32_MAX) return 0;
        char* names = (char*)gCheckReallocate(listing->names, capacity);
        if (!names) return 0;
        listing->names = names;
        listing->namesCapacity = capacity;
    }
    if (listing->count == listing->capacity) {
        uint32_t capacity = listing->capacity ? listing->capacity * 2 : 64;
        ListedEntry* entries = (ListedEntry*)gCheckReallocate(listing->entries, capacity * sizeof(ListedEntry));
        if (!entries) return 0;
        listing->entries = entries;
        listing->capacity = capacity;
    }
    memcpy(listing->names + listing->namesUsed, name, length);
    listing->entries[listing->count++] = ListedEntry{(uint32_t)listing->namesUsed, *file};
    listing->namesUsed += length;
    return 1;
}

static const char* gSortNames;  // qsort passes no context; listings are sorted by one thread

static int compareEntries(const void* a, const void* b) {
    return compareFolded(gSortNames + ((const ListedEntry*)a)->nameOffset,
                         gSortNames + ((const ListedEntry*)b)->nameOffset);
}

void finishListing(FolderListing* listing) {
    gSortNames = listing->names;
    if (listing->count > 1) qsort(listing->entries, listing->count, sizeof(ListedEntry), compareEntries);
}

const ListedFile* findListedFile(const FolderListing* listing, const char* name) {
    uint32_t low = 0, high = listing->count;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        int order = compareFolded(name, listing->names + listing->entries[middle].nameOffset);
        if (order == 0) return &listing->entries[middle].file;
        if (order < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return nullptr;
}

void freeListing(FolderListing* listing) {
    gCheckReallocate(listing->names, 0);
    gCheckReallocate(listing->entries, 0);
    *listing = FolderListing{};
}

// A folder is found by its path as Windows reads it, like any client path.
static FolderState** findSlot(FolderMap* map, FolderState** slots, uint32_t slotCount, const char* path,
                              size_t length) {
    uint32_t slot = (uint32_t)clientPathHash(path, length) & (slotCount - 1);
    for (++map->probes; slots[slot]; ++map->probes) {
        if (compareClientPaths(slots[slot]->path, strlen(slots[slot]->path), path, length) == 0) break;
        slot = (slot + 1) & (slotCount - 1);
    }
    return &slots[slot];
}

FolderState* folderStateFor(FolderMap* map, const char* path, size_t length) {
    if ((map->count + 1) * 2 > map->slotCount) {
        uint32_t slotCount = map->slotCount ? map->slotCount * 2 : 256;
        FolderState** slots = (FolderState**)gCheckReallocate(nullptr, slotCount * sizeof(FolderState*));
        if (!slots) return nullptr;
        memset(slots, 0, slotCount * sizeof(FolderState*));
        for (uint32_t i = 0; i < map->slotCount; ++i) {
            FolderState* state = map->slots[i];
            if (state) *findSlot(map, slots, slotCount, state->path, strlen(state->path)) = state;
        }
        gCheckReallocate(map->slots, 0);
        map->slots = slots;
        map->slotCount = slotCount;
    }
    FolderState** slot = findSlot(map, map->slots, map->slotCount, path, length);
    if (!*slot) {
        FolderState* state = (FolderState*)gCheckReallocate(nullptr, sizeof(FolderState) + length);
        if (!state) return nullptr;
        memset(state, 0, sizeof(FolderState) + length);
        memcpy(state->path, path, length);
        *slot = state;
        ++map->count;
    }
    return *slot;
}

void freeFolderMap(FolderMap* map) {
    for (uint32_t i = 0; i < map->slotCount; ++i) {
        if (!map->slots[i]) continue;
        freeListing(&map->slots[i]->listing);
        gCheckReallocate(map->slots[i], 0);
    }
    gCheckReallocate(map->slots, 0);
    *map = FolderMap{};
}
