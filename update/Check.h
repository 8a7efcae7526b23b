// The check of an update run: every manifest line, in order, against the
// client folder. A file whose size and write time match its cache record is
// decided at once; the others are hashed on several threads while the walk
// goes on. The outcome is the same as checking one file after another: one
// decision per path (its first line decides), jobs in manifest order, cache
// records added in manifest order, and a progress that only grows.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "update/Documents.h"

// The files to download, in manifest order: each job is the offset of its
// line in the manifest's text (at most HTTP_MANIFEST_LIMIT bytes), four bytes
// whatever the line. The workers read its fields when they claim it.
struct JobList {
    const char* manifest;
    uint32_t* lines;
    int32_t count;
};

// Checks the manifest text (cut into lines in place; it must outlive the
// list). Returns the number of files that need a download but could not be
// listed for lack of memory: they count as failed.
int32_t checkManifest(char* manifest, JobList* list);

// The fields of job index, read from its line; 0 when they do not read
// (never for a list the check made).
int readJob(const JobList* list, int32_t index, ManifestEntry* out);
void freeJobList(JobList* list);

// Threads that hash: as many as the machine has processors, at most 8. Tests
// set it to see the same outcome with more threads than files.
extern int32_t gHashThreads;

// Allocation of all that the check holds: its items, path set, folder
// listings and the job list. As realloc, except that size 0 frees the block.
// Tests replace it to count what a manifest costs.
extern void* (*gCheckReallocate)(void* block, size_t size);
