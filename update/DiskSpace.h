// Whether a run's downloads fit on the client folder's disk. Each file grows
// as "<target>.part" beside its old version and then replaces it, so a run
// needs room for new files, parts beside old files and the growth of
// replaced files, less what parts left by an earlier run already hold. The
// launcher refuses a run only when even the least it surely needs does not
// fit: near the limit it goes ahead, since a wrong refusal is worse than a
// late failure (which stops the run as soon as a write finds the disk full).
#pragma once

#include <stdint.h>

#include "update/Documents.h"

// One job as the disk holds it now.
struct DiskJob {
    uint64_t size;    // the manifest's
    uint64_t target;  // the old file, 0 when there is none
    uint64_t part;    // a part kept by an earlier run, 0 when there is none
};

struct DiskNeed {
    uint64_t least;  // surely needed at some moment of a run that installs every job
    uint64_t most;   // every part whole beside its old file at once
};

// Jobs larger than the whole volume (volumeBytes; 0: unknown) are left out:
// freeing space cannot make them fit, and they fail on their own.
DiskNeed estimateDiskNeed(const DiskJob* jobs, int32_t count, uint64_t volumeBytes);

// Whole mebibytes of bytes, rounded up, at least 1, at most what a 32-bit
// count shows: what the player is asked to free.
int32_t mebibytesToFree(uint64_t bytes);

// The errors of a write that found no room: ERROR_DISK_FULL and ERROR_HANDLE_DISK_FULL.
int isDiskFullError(uint32_t systemError);

#ifdef _WIN32
#include <windows.h>

struct DownloadQueue;
struct JobList;
struct Failure;

// Size of a file and, when written is given, its last write time; both 0
// when there is no such file or it is a folder.
uint64_t sizeOnDisk(const char* path, uint64_t* written);

// Writes to a ".part" file: WriteFile; tests replace it with a disk that fills up.
extern BOOL (*gWritePart)(HANDLE file, const void* bytes, DWORD size, DWORD* written);

// What the run found on the disk before its first transfer, kept to judge
// what is still missing should the disk fill up during the run.
struct DiskUse {
    DiskJob* jobs;
    uint64_t* written;  // each target's last write time, to tell installed files after a run
    int32_t count;
    int32_t full;      // 1: the run ends with the disk-space text
    uint64_t missing;  // bytes to free
    char detail[160];  // needed and free bytes, for the log
};

// The client folder's free bytes for this user and the volume's size, from
// GetDiskFreeSpaceExA; tests replace it. Returns 0 when the platform cannot tell.
extern int (*gDiskFreeBytes)(const char* folder, uint64_t* freeBytes, uint64_t* volumeBytes);

// Before the first transfer: measures the jobs' targets and parts and sets
// use->full when even the least the run needs does not fit. Near the limit it
// logs the figures and goes ahead; when nothing can be measured it goes ahead.
void checkDiskSpace(const JobList* jobs, DiskUse* use);

// After a run that a full disk stopped: what the jobs not installed still
// need at most beyond the space free now.
void measureDiskStillNeeded(const JobList* jobs, DiskUse* use);

void releaseDiskUse(DiskUse* use);

// Called where a write failed: a full disk marks the failure as such and
// stops the run's remaining downloads.
void noteFullDisk(DownloadQueue* queue, Failure* failure);
#endif
