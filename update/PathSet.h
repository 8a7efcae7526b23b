// A set of relative paths compared as Windows reads them ("/" and "\" alike,
// letter case as update/ClientPath.h folds it), for one update run: the first
// manifest line of a path decides, later lines of it are skipped, so two
// workers never write the same ".part" file.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct PathSet {
    char* text;  // the stored paths, each with its terminator
    size_t textUsed;
    size_t textCapacity;
    uint32_t* slots;  // offset + 1 into text; 0 is empty
    uint32_t slotCount;
    uint32_t count;
    uint64_t probes;  // slots examined, for tests: a keyed hash keeps it near one per lookup
};

// Adds path. Returns 0 when the set already held it, else 1 (also when there
// was no memory to remember it).
int addPathOnce(PathSet* set, const char* path);

void freePathSet(PathSet* set);
