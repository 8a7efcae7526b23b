// Download workers: each claims jobs from the run's shared queue, fetches the
// file into memory, writes it to "<target>.part", checks its digest, and only
// then moves it over the target.
#pragma once

#include <stdint.h>

#include "update/Documents.h"

enum {
    FILE_URL_SIZE = 1024,
    FILE_URL_STOP_LENGTH = 1019,  // no path character is added past this length
    LOCAL_PATH_SIZE = 260,
    MAX_DOWNLOAD_WORKERS = 8,
    DOWNLOAD_REPORT_EVERY = 10
};

// Shared by one run and its workers; the counters change only atomically.
struct DownloadQueue {
    void* internet;
    const ManifestEntry* jobs;
    int32_t jobCount;
    volatile int32_t nextJob;        // last claimed index, starts at -1
    volatile int32_t finishedCount;
    volatile int32_t failedCount;
    uint64_t totalBytes;
    volatile int64_t doneBytes;
};

#ifdef _WIN32
// Thread entry point; argument is the DownloadQueue. Returns 0 once no job
// is left.
unsigned long __stdcall downloadWorker(void* queue);
#endif

// updateUrl followed by path with spaces as %20 and backslashes as "/".
// Stops adding path characters once the URL is longer than 1,019 characters.
void buildFileUrl(char* out /* FILE_URL_SIZE */, const char* updateUrl, const char* path);

// "<clientDir>\<path>". Returns 0 when it would not fit in 259 characters:
// a cut path could name another file.
int buildLocalPath(char* out /* LOCAL_PATH_SIZE */, const char* clientDir, const char* path);

// "<clientDir>\<path>" and the same with ".part". Returns 0 when either would
// not fit in 259 characters: a cut path could name another file.
int buildJobPaths(const char* clientDir, const char* path, char* target /* LOCAL_PATH_SIZE */,
                  char* part /* LOCAL_PATH_SIZE */);

// Progress from the byte counts in whole KiB; never reaches 1000, which only
// the end of a run shows.
int32_t downloadProgressPermille(int64_t doneBytes, uint64_t totalBytes);

// Whether the job that made finishedCount reach finished reports progress.
int shouldReportProgress(int32_t finished, int32_t jobCount);
