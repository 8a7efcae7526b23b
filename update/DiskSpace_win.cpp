#include <windows.h>

#include <stdlib.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Check.h"
#include "update/DiskSpace.h"
#include "update/Download.h"
#include "update/RunLog.h"

static int askDiskFreeBytes(const char* folder, uint64_t* freeBytes, uint64_t* volumeBytes) {
    ULARGE_INTEGER available, total;
    char withSlash[MAX_PATH + 1];
    // A share's folder needs its trailing backslash; what this user may use counts (quotas).
    if (!formatText(withSlash, sizeof(withSlash), "%s\\", folder) ||
        !GetDiskFreeSpaceExA(withSlash, &available, &total, nullptr)) {
        return 0;
    }
    *freeBytes = available.QuadPart;
    *volumeBytes = total.QuadPart;
    return 1;
}

int (*gDiskFreeBytes)(const char* folder, uint64_t* freeBytes, uint64_t* volumeBytes) = askDiskFreeBytes;

static BOOL writeFile(HANDLE file, const void* bytes, DWORD size, DWORD* written) {
    return WriteFile(file, bytes, size, written, nullptr);
}

BOOL (*gWritePart)(HANDLE file, const void* bytes, DWORD size, DWORD* written) = writeFile;

uint64_t sizeOnDisk(const char* path, uint64_t* written) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (written) *written = 0;
        return 0;
    }
    if (written) *written = ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    return ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// A job's target and part now; a job whose paths do not fit needs nothing:
// it fails without writing.
static void measureJob(const JobList* jobs, int32_t index, DiskJob* out, uint64_t* written) {
    char target[LOCAL_PATH_SIZE], part[LOCAL_PATH_SIZE];
    ManifestEntry job;
    *out = DiskJob{};
    *written = 0;
    if (!readJob(jobs, index, &job) || !buildJobPaths(launcherState.clientDir, job.path, target, part)) return;
    out->size = job.size;
    out->target = sizeOnDisk(target, written);
    out->part = sizeOnDisk(part, nullptr);
}

void checkDiskSpace(const JobList* jobs, DiskUse* use) {
    int32_t count = jobs->count;
    *use = DiskUse{};
    uint64_t freeBytes = 0, volumeBytes = 0;
    if (!gDiskFreeBytes(launcherState.clientDir, &freeBytes, &volumeBytes)) return;
    use->jobs = (DiskJob*)calloc((size_t)count, sizeof(DiskJob));
    use->written = (uint64_t*)calloc((size_t)count, sizeof(uint64_t));
    if (!use->jobs || !use->written) return releaseDiskUse(use);
    use->count = count;
    for (int32_t i = 0; i < count; ++i) measureJob(jobs, i, &use->jobs[i], &use->written[i]);
    DiskNeed need = estimateDiskNeed(use->jobs, count, volumeBytes);
    formatText(use->detail, sizeof(use->detail), "needs %llu bytes at least, %llu at most; %llu free",
               (unsigned long long)need.least, (unsigned long long)need.most, (unsigned long long)freeBytes);
    if (need.least > freeBytes) {
        use->full = 1;
        use->missing = need.least - freeBytes;
    } else if (need.most > freeBytes) {
        logEvent("disk-space", nullptr, "tight", use->detail);
    }
}

void measureDiskStillNeeded(const JobList* jobs, DiskUse* use) {
    int32_t count = jobs->count;
    use->full = 1;
    uint64_t freeBytes = 0, volumeBytes = 0;
    if (!use->jobs || !gDiskFreeBytes(launcherState.clientDir, &freeBytes, &volumeBytes)) return;
    // An installed file is there with a new write time and no part; the rest still need room.
    int32_t left = 0;
    for (int32_t i = 0; i < count && i < use->count; ++i) {
        uint64_t written = 0;
        DiskJob now;
        measureJob(jobs, i, &now, &written);
        if (now.part == 0 && written != 0 && written != use->written[i]) continue;
        use->jobs[left++] = now;
    }
    DiskNeed need = estimateDiskNeed(use->jobs, left, volumeBytes);
    use->missing = need.most > freeBytes ? need.most - freeBytes : 0;
    formatText(use->detail, sizeof(use->detail),
               "the disk filled up: %d files still need %llu bytes at most; %llu free", left,
               (unsigned long long)need.most, (unsigned long long)freeBytes);
}

void releaseDiskUse(DiskUse* use) {
    free(use->jobs);
    free(use->written);
    use->jobs = nullptr;
    use->written = nullptr;
    use->count = 0;
}

void noteFullDisk(DownloadQueue* queue, Failure* failure) {
    if (!isDiskFullError(failure->systemError)) return;
    failure->reason = FAIL_DISK_FULL;
    __atomic_store_n(&queue->diskFull, 1, __ATOMIC_SEQ_CST);
}
