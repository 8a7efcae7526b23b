// The ".part" file a download is written into beside its target. It stays
// open from its first byte to its install, shared with others for reading
// alone, and it replaces the target through that same handle: the bytes that
// were hashed are the bytes installed, whatever happens to its name meanwhile.
#pragma once

#include "update/Failure.h"

enum {
    PART_INSTALL_TRY_MS = 2000,  // how long a target or part held for a moment is tried again
    PART_INSTALL_PAUSE_MS = 100
};

// Opens path for reading and writing, made empty when missing; null with
// FAIL_WRITE recorded when it cannot be opened.
void* openPart(const char* path, Failure* failure);

// Empties the part for a download that starts over.
int emptyPart(void* part, Failure* failure);

// Renames the open part over target (a read-only target too). A target or
// part held for a moment, as a scanner that reads a fresh file holds it, is
// tried again for about two seconds; then FAIL_IN_USE. The handle stays open
// either way; once installed it is the target's.
int installPart(void* part, const char* target, Failure* failure);

// Called before each try of the move, numbered from 0; tests tamper with the
// part or let go of the target there.
extern void (*gBeforeInstall)(const char* target, int attempt);
