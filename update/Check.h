// The check of an update run: every manifest line, in order, against the
// client folder. A file whose size and write time match its cache record is
// decided at once; the others are hashed on several threads while the walk
// goes on. The outcome is the same as checking one file after another: one
// decision per path (its first line decides), jobs in manifest order, cache
// records added in manifest order, and a progress that only grows.
#pragma once

#include <stdint.h>

#include "update/Documents.h"

// The download list grows with the accepted lines, never with what the
// manifest merely claims.
struct JobList {
    ManifestEntry* jobs;
    int32_t count;
    int32_t capacity;
};

// Checks the manifest text (cut into lines in place; it must outlive the
// list). Returns the number of files that need a download but could not be
// listed for lack of memory: they count as failed.
int32_t checkManifest(char* manifest, JobList* list);

// Threads that hash: as many as the machine has processors, at most 8. Tests
// set it to see the same outcome with more threads than files.
extern int32_t gHashThreads;
