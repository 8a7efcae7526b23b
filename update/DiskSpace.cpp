#include "update/DiskSpace.h"

typedef unsigned __int128 Bytes;  // no sum of manifest sizes overflows it

static uint64_t clampBytes(Bytes bytes) { return bytes > UINT64_MAX ? UINT64_MAX : (uint64_t)bytes; }

DiskNeed estimateDiskNeed(const DiskJob* jobs, int32_t count, uint64_t volumeBytes) {
    // A job grows the disk by its size less its old file and part once
    // installed (net, may be negative), and needs its whole part beside its
    // old file just before. The least: every job's net growth at the end, or
    // one job's part beside its old file while every other job has already
    // freed what it frees.
    Bytes grows = 0, shrinks = 0, most = 0;
    for (int32_t i = 0; i < count; ++i) {
        const DiskJob& j = jobs[i];
        if (volumeBytes > 0 && j.size > volumeBytes) continue;
        Bytes held = (Bytes)j.target + j.part;
        if (j.size > held) grows += j.size - held;
        if (j.size < held) shrinks += held - j.size;
        if (j.size > j.part) most += j.size - j.part;
    }
    Bytes least = grows > shrinks ? grows - shrinks : 0;
    for (int32_t i = 0; i < count; ++i) {
        const DiskJob& j = jobs[i];
        if ((volumeBytes > 0 && j.size > volumeBytes) || j.size <= j.part) continue;
        Bytes held = (Bytes)j.target + j.part;
        Bytes othersFree = shrinks - (j.size < held ? held - j.size : 0);
        Bytes alone = j.size - j.part;
        if (alone > othersFree && alone - othersFree > least) least = alone - othersFree;
    }
    return DiskNeed{clampBytes(least), clampBytes(most)};
}

int32_t mebibytesToFree(uint64_t bytes) {
    uint64_t mebibytes = bytes / 1048576 + (bytes % 1048576 != 0);
    if (mebibytes < 1) return 1;
    return mebibytes > INT32_MAX ? INT32_MAX : (int32_t)mebibytes;
}

int isDiskFullError(uint32_t systemError) { return systemError == 112 || systemError == 39; }
