#include <stdlib.h>

#include "update/Check.h"

static void* reallocateOrFree(void* block, size_t size) {
    if (size > 0) return realloc(block, size);
    free(block);
    return nullptr;
}

void* (*gCheckReallocate)(void* block, size_t size) = reallocateOrFree;

int readJob(const JobList* list, int32_t index, ManifestEntry* out) {
    return parseManifestFields(list->manifest + list->lines[index], out);
}

void freeJobList(JobList* list) {
    gCheckReallocate(list->lines, 0);
    *list = JobList{};
}
