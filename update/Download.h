// Download workers: each claims jobs from the run's shared queue and streams
// the file into "<target>.part" through a fixed buffer, hashing it as it
// arrives; only a file of the manifest's size and digest replaces its target.
// A transfer that fails for a passing reason is tried again, resuming from
// what arrived; a kept ".part" is resumed by a later run too.
#pragma once

#include <stdint.h>

#include "update/Check.h"
#include "update/Documents.h"
#include "update/OwnFiles.h"
#include "update/Release.h"

struct DownloadStatus;
struct Throttle;

enum {
    FILE_URL_SIZE = 1024,
    LOCAL_PATH_SIZE = 260,
    CLIENT_FOLDER_MAX_LENGTH = 247,  // what CreateDirectoryA makes: 248 characters with the terminator
    MAX_DOWNLOAD_WORKERS = 8,
    DOWNLOAD_REPORT_EVERY = 10,
    DOWNLOAD_BUFFER_SIZE = 256 * 1024,  // a worker's own buffer, whatever the file's size
    DOWNLOAD_TRIES = 3,
    DOWNLOAD_UNREACHABLE_LIMIT = 8,  // transfers in a row that found no server
    DOWNLOAD_REPORT_INTERVAL_MS = 100,
    // What the block indexes, matches and plans of a run's deltas hold at
    // once: a 4 GiB file's match holds about 10 MiB, so eight at once would
    // take the launcher past its 64 MiB. A delta waits for its share; one that
    // needs more than all of it waits until it has it alone.
    DELTA_MEMORY_BUDGET = 24 * 1024 * 1024,
    // A delta asks for the range after a copy of at most this many bytes
    // before the copy, so that the range travels while the copy runs.
    DELTA_AHEAD_COPY_MAX = 256 * 1024 * 1024
};

// Shared by one run and its workers; the counters change only atomically.
struct DownloadQueue {
    const char* const* bases;  // the run's base URLs: the update URL, then its mirrors
    int32_t baseCount;
    int32_t firstBase;                     // the base that gave the manifest
    int32_t objects;                       // files come from the store, objects/<2 hex>/<sha256>
    const ManifestDirectives* directives;  // which files have a block index
    const JobList* jobs;                   // read one line at a time, as workers claim them
    int32_t jobCount;
    const OwnFiles* ownFiles;
    volatile int32_t nextJob;  // last claimed index, starts at -1
    volatile int32_t finishedCount;
    volatile int32_t failedCount;
    uint64_t totalBytes;             // sizes of all jobs, saturating
    volatile uint64_t doneBytes;     // sizes of the finished jobs, saturating
    volatile int64_t receivedBytes;  // what the unfinished jobs have so far
    volatile uint32_t lastReportTick;
    // Per base: transfers in a row that found no server, and whether it has gone.
    volatile int32_t unreachableInARow[UPDATE_BASE_CAPACITY];
    volatile int32_t serverGone[UPDATE_BASE_CAPACITY];
    volatile int32_t diskFull;  // a write found the disk full: the rest stop at once
    Throttle* throttle;         // null: no speed limit
    DownloadStatus* status;     // the status line's figures and speed; null: the bar alone
    // Moves a verified part (a HANDLE) over its target: installPart, unless
    // the queue installs its own way (the launcher's own build, which has to
    // set the running launcher aside first). Null: installPart.
    int (*install)(void* context, void* part, const char* target, Failure* failure);
    void* installContext;
};

#ifdef _WIN32
// Thread entry point; argument is the DownloadQueue. Returns 0 once no job
// is left.
unsigned long __stdcall downloadWorker(void* queue);
#endif

// Pause unit of the retries, a second; tests shorten it.
extern uint32_t gRetryPauseUnitMs;

// How long a range asked for ahead may have waited for its turn before it is
// asked for again, as a server or proxy may have given up on it by then;
// tests set 0.
extern uint32_t gDeltaAheadIdleMs;

// updateUrl followed by path with separators as "/" and every byte other
// than A-Z a-z 0-9 - . _ ~ percent-encoded, so that "%", "#" or "?" in a name
// reach the server as part of it. Returns 0, with out empty, when the URL
// would not fit in 1,023 characters: a cut URL could name another file.
int buildFileUrl(char* out /* FILE_URL_SIZE */, const char* updateUrl, const char* path);

// base followed by "objects/<2 hex>/<sha256>", the digest in lowercase.
// Returns 0 when sha256 is not 64 hexadecimal digits (no such object exists)
// or the URL does not fit.
int buildObjectUrl(char* out /* FILE_URL_SIZE */, const char* base, const char* sha256);

// "<clientDir>\<path>". Returns 0 when it would not fit in 259 characters:
// a cut path could name another file.
int buildLocalPath(char* out /* LOCAL_PATH_SIZE */, const char* clientDir, const char* path);

// Whether the folder that holds path in the client folder can be made: the
// ANSI CreateDirectoryA takes at most 247 characters (Wine takes more).
int clientFolderFits(const char* clientDir, const char* path);

// "<clientDir>\<path>" and the same with ".part". Returns 0 when either would
// not fit in 259 characters (a cut path could name another file) or when the
// file's folder could not be made.
int buildJobPaths(const char* clientDir, const char* path, char* target /* LOCAL_PATH_SIZE */,
                  char* part /* LOCAL_PATH_SIZE */);

uint64_t addSaturating(uint64_t a, uint64_t b);

// Progress from the byte counts in whole KiB, within 0..999 whatever the
// sizes: 1000 is shown only by the end of a run.
int32_t downloadProgressPermille(uint64_t doneBytes, uint64_t totalBytes);

// Whole mebibytes for the status text, at most what a 32-bit count shows.
int32_t wholeMebibytes(uint64_t bytes);

// Whether the job that made finishedCount reach finished reports progress.
int shouldReportProgress(int32_t finished, int32_t jobCount);
