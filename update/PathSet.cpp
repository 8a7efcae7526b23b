#include "update/PathSet.h"

#include <stdlib.h>
#include <string.h>

#include "update/Check.h"
#include "update/ClientPath.h"

static uint32_t* findSlot(PathSet* set, const char* path) {
    uint32_t mask = set->slotCount - 1;
    size_t length = strlen(path);
    uint32_t slot = (uint32_t)clientPathHash(path, length) & mask;
    for (++set->probes; set->slots[slot] != 0; ++set->probes) {
        const char* stored = set->text + set->slots[slot] - 1;
        if (compareClientPaths(stored, strlen(stored), path, length) == 0) break;
        slot = (slot + 1) & mask;
    }
    return &set->slots[slot];
}

static int growSlots(PathSet* set) {
    uint32_t newCount = set->slotCount ? set->slotCount * 2 : 1024;
    uint32_t* slots = (uint32_t*)gCheckReallocate(nullptr, newCount * sizeof(uint32_t));
    if (!slots) return 0;
    memset(slots, 0, newCount * sizeof(uint32_t));
    PathSet grown = *set;
    grown.slots = slots;
    grown.slotCount = newCount;
    for (uint32_t i = 0; i < set->slotCount; ++i) {
        if (set->slots[i]) *findSlot(&grown, set->text + set->slots[i] - 1) = set->slots[i];
    }
    gCheckReallocate(set->slots, 0);
    *set = grown;
    return 1;
}

int addPathOnce(PathSet* set, const char* path) {
    // Without memory a path counts as new: examining a line twice is
    // harmless, skipping one could leave a file out of date.
    if ((set->count + 1) * 2 > set->slotCount && !growSlots(set)) return 1;
    uint32_t* slot = findSlot(set, path);
    if (*slot != 0) return 0;

    size_t size = strlen(path) + 1;
    if (set->textUsed + size > set->textCapacity) {
        size_t capacity = set->textCapacity ? set->textCapacity : 65536;
        while (set->textUsed + size > capacity) capacity *= 2;
        if (capacity > UINT32_MAX) return 1;
        char* text = (char*)gCheckReallocate(set->text, capacity);
        if (!text) return 1;
        set->text = text;
        set->textCapacity = capacity;
    }
    memcpy(set->text + set->textUsed, path, size);
    *slot = (uint32_t)set->textUsed + 1;
    set->textUsed += size;
    ++set->count;
    return 1;
}

void freePathSet(PathSet* set) {
    gCheckReallocate(set->text, 0);
    gCheckReallocate(set->slots, 0);
    *set = PathSet{};
}
