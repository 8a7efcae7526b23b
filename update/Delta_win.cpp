// Parts built from bytes already on the disk: a copy of a file the client
// holds under another path, or a delta that takes every block of the new file
// found in the old copy and fetches only the rest, by single-range requests.
// Either way the part is hashed as it grows and installed only with the
// manifest's digest, as a download is.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Cache.h"
#include "update/ClientPath.h"
#include "update/DiskSpace.h"
#include "update/DownloadJob.h"
#include "update/DownloadStatus.h"
#include "update/PartFile.h"
#include "update/RunLog.h"
#include "update/Throttle.h"

// Why a delta gives way to the whole file; WHY_NONE: the failure says.
enum { WHY_NONE, WHY_INDEX, WHY_GAVE_UP, WHY_RANGE, WHY_LOCAL, WHY_DIGEST, WHY_MEMORY };

// The run's delta memory: what the workers' indexes, matches and plans hold
// together, at most DELTA_MEMORY_BUDGET.
static SRWLOCK gDeltaLock = SRWLOCK_INIT;
static CONDITION_VARIABLE gDeltaFreed = CONDITION_VARIABLE_INIT;
static uint64_t gDeltaHeld;

static void holdDeltaMemory(DeltaJob* delta, uint64_t bytes) {
    AcquireSRWLockExclusive(&gDeltaLock);
    while (gDeltaHeld > 0 && gDeltaHeld + bytes > DELTA_MEMORY_BUDGET) {
        SleepConditionVariableSRW(&gDeltaFreed, &gDeltaLock, INFINITE, 0);
    }
    gDeltaHeld += bytes;
    ReleaseSRWLockExclusive(&gDeltaLock);
    delta->reserved += bytes;
}

static void letGoOfDeltaMemory(DeltaJob* delta, uint64_t bytes) {
    if (bytes == 0) return;
    AcquireSRWLockExclusive(&gDeltaLock);
    gDeltaHeld -= bytes;
    ReleaseSRWLockExclusive(&gDeltaLock);
    WakeAllConditionVariable(&gDeltaFreed);
    delta->reserved -= bytes;
}

void endDelta(Worker* worker) {
    DeltaJob* delta = &worker->delta;
    freeBlockPlan(&delta->plan);
    letGoOfDeltaMemory(delta, delta->reserved);
    *delta = DeltaJob{};
}

// Opens a local copy to read from while others may go on reading it; 0 when
// it cannot be opened.
static HANDLE openLocal(const char* path, DWORD sharing) {
    HANDLE file = CreateFileA(path, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// Copies length bytes from offset of local to the end of the part.
static int copyLocal(Worker* worker, HANDLE local, uint64_t offset, uint64_t length, HANDLE part, Sha256* digest,
                     uint64_t* have, int* why, Failure* failure) {
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(local, at, nullptr, FILE_BEGIN)) {
        *why = WHY_LOCAL;
        return 0;
    }
    while (length > 0) {
        if (diskIsFull(worker, failure)) return 0;
        DWORD wanted = length < DOWNLOAD_BUFFER_SIZE ? (DWORD)length : (DWORD)DOWNLOAD_BUFFER_SIZE, got = 0,
              written = 0;
        // Shorter than the match saw it: the copy changed meanwhile.
        if (!ReadFile(local, worker->buffer, wanted, &got, nullptr) || got != wanted) {
            *why = WHY_LOCAL;
            return 0;
        }
        if (!gWritePart(part, worker->buffer, got, &written) || written != got) {
            failWith(failure, FAIL_WRITE, GetLastError());
            noteFullDisk(worker->queue, failure);
            return 0;
        }
        if (!sha256Add(digest, worker->buffer, got)) {
            failWith(failure, FAIL_MEMORY, 0);
            return 0;
        }
        *have += got;
        length -= got;
        worker->delta.localBytes += got;
        countReceived(worker, *have);
    }
    return 1;
}

// The part's digest against the manifest's, then the move over the target.
// *keepPart: the part's bytes are the file's, should the move fail.
static int installChecked(Worker* worker, const ManifestEntry* job, const JobFiles* files, HANDLE part, Sha256* digest,
                          int* why, int* keepPart, Failure* failure) {
    char hex[DIGEST_TEXT_SIZE];
    *keepPart = 0;
    if (!sha256Finish(digest, hex)) {
        failWith(failure, FAIL_MEMORY, 0);
        return 0;
    }
    if (!equalsIgnoreCase(hex, job->sha256)) {
        *why = WHY_DIGEST;
        return 0;
    }
    return installJobPart(worker, part, files->target, keepPart, failure);
}

// The first record of the job's digest under another path whose file still
// has the record's size and write time, open for reading; null when none.
static HANDLE openCopySource(const ManifestEntry* job, char* path) {
    uint32_t cursor = 0;
    for (const CacheEntry* record; (record = nextCacheEntryWithDigest(job->sha256, &cursor));) {
        if (record->size != job->size || sameClientPath(record->path, job->path) ||
            !buildLocalPath(path, launcherState.clientDir, record->path)) {
            continue;
        }
        // Nobody may write it while it is copied.
        HANDLE file = openLocal(path, FILE_SHARE_READ);
        BY_HANDLE_FILE_INFORMATION info;
        if (file && GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow) == record->size &&
            info.ftLastWriteTime.dwLowDateTime == record->writeTime.low &&
            info.ftLastWriteTime.dwHighDateTime == record->writeTime.high) {
            return file;
        }
        if (file) CloseHandle(file);
    }
    return nullptr;
}

int copyFromLocalFile(Worker* worker, const ManifestEntry* job, const JobFiles* files, Failure* failure) {
    char sourcePath[LOCAL_PATH_SIZE], detail[RUN_LOG_DETAIL_SIZE];
    int result = TRY_FAILED, keepPart = 1, why = WHY_NONE;
    uint64_t have = 0;
    Sha256 digest = {};
    HANDLE part = nullptr, source = openCopySource(job, sourcePath);
    if (!source) return TRY_WHOLE_FILE;
    failWith(failure, FAIL_NONE, 0);
    if (!openJobPart(worker, job, files, 1, &part, &digest, &have, failure)) goto done;
    if (!copyLocal(worker, source, have, job->size - have, part, &digest, &have, &why, failure)) goto done;
    CloseHandle(source);
    source = nullptr;
    if (!installChecked(worker, job, files, part, &digest, &why, &keepPart, failure)) goto done;
    formatText(detail, sizeof(detail), "from %s, %llu bytes, no request", sourcePath, (unsigned long long)job->size);
    logEvent("file-copied", job->path, "-", detail);
    result = TRY_INSTALLED;

done:
    sha256End(&digest);
    if (source) CloseHandle(source);
    if (part) CloseHandle(part);
    if (result == TRY_INSTALLED) return result;
    if (why == WHY_NONE && failure->reason != FAIL_MEMORY) {
        if (!keepPart) DeleteFileA(files->part);
        return TRY_FAILED;
    }
    // The copy changed or was not what its record said: the network gives the
    // file, from its first byte, since what was copied is in doubt.
    DeleteFileA(files->part);
    formatText(detail, sizeof(detail), "the copy at %s %s: fetching the file", sourcePath,
               why == WHY_DIGEST ? "does not match" : "could not be read whole");
    logEvent("retry", job->path, why == WHY_DIGEST ? "digest" : "local-copy", detail);
    return TRY_WHOLE_FILE;
}

void startDelta(Worker* worker, const ManifestEntry* job, const JobFiles* files) {
    const ManifestDirectives* directives = worker->queue->directives;
    worker->delta = DeltaJob{};
    if (!directives || !hasBlockIndex(directives, job->size) ||
        sizeOnDisk(files->target, nullptr) < directives->blockSize) {
        return;
    }
    // A whole part from an earlier run needs no more than installing.
    if (sizeOnDisk(files->part, nullptr) >= job->size) return;
    worker->delta.state = DELTA_WANTED;
}

// The URL of the job's object, or of its block index, under the worker's base.
static int objectUrl(const Worker* worker, const ManifestEntry* job, int index, char* url, Failure* failure) {
    int built = buildObjectUrl(url, worker->queue->bases[worker->base], job->sha256) &&
                (!index || strlen(url) + sizeof(BLOCK_INDEX_SUFFIX) <= FILE_URL_SIZE);
    if (!built) {
        failWith(failure, FAIL_PATH_TOO_LONG, 0);
    } else if (index) {
        strcat(url, BLOCK_INDEX_SUFFIX);
    }
    return built;
}

// The job's block index, exactly length bytes, from the worker's base.
static int fetchIndex(Worker* worker, const ManifestEntry* job, unsigned char* out, size_t length, int* why,
                      Failure* failure) {
    char url[FILE_URL_SIZE];
    HttpRequest request = {};
    size_t have = 0;
    int fetched = 0;
    if (!objectUrl(worker, job, 1, url, failure)) return 0;
    ++worker->delta.requests;
    if (!httpSend(url, 0, &request, failure)) return 0;
    if (request.status != 200) {
        failWith(failure, FAIL_HTTP_STATUS, 0);
        failure->httpStatus = request.status;
        failure->retryAfterSeconds = request.retryAfterSeconds;
        goto done;
    }
    if (request.hasLength && request.length != length) {
        *why = WHY_INDEX;
        goto done;
    }
    for (;;) {
        const char* data = nullptr;
        uint32_t got = 0;
        if (!readPaced(worker->queue, &request, &data, &got, failure)) goto done;
        if (got == 0) break;
        worker->delta.fetchedBytes += got;
        worker->delta.indexBytes += got;
        if (got > length - have) {
            *why = WHY_INDEX;
            goto done;
        }
        memcpy(out + have, data, got);
        have += got;
    }
    if (!bodyEndedWhole(&request, failure)) goto done;
    if (have != length) {
        *why = WHY_INDEX;
        goto done;
    }
    fetched = 1;

done:
    httpClose(&request);
    return fetched;
}

// The index, the match of the old copy against it and the plan; what the
// plan holds stays held, the rest is let go of at once.
static int planDelta(Worker* worker, const ManifestEntry* job, const JobFiles* files, int* why, Failure* failure) {
    const ManifestDirectives* directives = worker->queue->directives;
    DeltaJob* delta = &worker->delta;
    size_t length = blockIndexLength(job->size, directives->blockSize);
    uint32_t blocks = (uint32_t)((length - BLOCK_INDEX_HEADER_SIZE) / BLOCK_INDEX_RECORD_SIZE);
    int planned = 0;
    BlockIndex index;
    BlockMatch match = {};
    HANDLE local = nullptr;
    holdDeltaMemory(delta, length + blockMatchMemory(blocks, directives->blockSize));
    unsigned char* bytes = (unsigned char*)malloc(length);
    if (!bytes) {
        *why = WHY_MEMORY;
        goto done;
    }
    if (!fetchIndex(worker, job, bytes, length, why, failure)) goto done;
    if (!readBlockIndex(bytes, length, job->size, directives->blockSize, job->sha256, &index)) {
        *why = WHY_INDEX;
        goto done;
    }
    if (!beginBlockMatch(&match, &index)) {
        *why = WHY_MEMORY;
        goto done;
    }
    if (!(local = openLocal(files->target, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))) {
        *why = WHY_LOCAL;
        goto done;
    }
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(local, worker->buffer, DOWNLOAD_BUFFER_SIZE, &got, nullptr)) {
            *why = WHY_LOCAL;
            goto done;
        }
        if (got == 0 || !addBlockMatchBytes(&match, worker->buffer, got)) break;
    }
    if (!finishBlockMatch(&match) || !planBlocks(&match, &delta->plan)) {
        *why = WHY_GAVE_UP;
        goto done;
    }
    delta->state = DELTA_PLANNED;
    planned = 1;

done:
    if (local) CloseHandle(local);
    endBlockMatch(&match);
    free(bytes);
    letGoOfDeltaMemory(delta, delta->reserved - (planned ? ((uint64_t)blocks + 1) * sizeof(uint64_t) : 0));
    return planned;
}

// A fetch asked for before its turn: sent, or failed with the failure that
// counts as its try.
enum { AHEAD_NONE, AHEAD_SENT, AHEAD_FAILED };
struct AheadRange {
    int32_t state;
    uint64_t first;
    uint32_t sentTick;
    HttpRequest request;
    Failure failure;
};

uint32_t gDeltaAheadIdleMs = 10000;

static void dropAhead(AheadRange* ahead) {
    httpClose(&ahead->request);
    ahead->state = AHEAD_NONE;
}

static int sendRange(Worker* worker, const ManifestEntry* job, uint64_t first, uint64_t last, HttpRequest* request,
                     Failure* failure) {
    char url[FILE_URL_SIZE];
    if (!objectUrl(worker, job, 0, url, failure)) return 0;
    ++worker->delta.requests;
    return httpSendRange(url, first, last, request, failure);
}

// Before a copy, the fetch after it is asked for, so that its bytes travel
// while the copy runs: the worker's one request at a time. Not under a speed
// limit, whose reads alone pace the transfer, nor before a copy so long that
// the server may give up on the request meanwhile.
static void askAhead(Worker* worker, const ManifestEntry* job, const BlockStep* copy, AheadRange* ahead) {
    BlockStep next;
    if (worker->queue->throttle || copy->length > DELTA_AHEAD_COPY_MAX ||
        !blockPlanStep(&worker->delta.plan, copy->offset + copy->length, &next) || !next.fetch) {
        return;
    }
    ahead->first = next.offset;
    ahead->sentTick = GetTickCount();
    int sent = sendRange(worker, job, next.offset, next.offset + next.length - 1, &ahead->request, &ahead->failure);
    ahead->state = sent ? AHEAD_SENT : AHEAD_FAILED;
}

// One planned fetch, from have to its end, by a single-range request: the
// one asked for ahead when it is for these bytes and has not waited too long.
static int fetchRange(Worker* worker, const ManifestEntry* job, const BlockStep* step, AheadRange* ahead, HANDLE part,
                      Sha256* digest, uint64_t* have, int* why, Failure* failure) {
    HttpRequest* request = &ahead->request;
    uint64_t last = step->offset + step->length - 1, before = *have;
    int fetched = 0;
    if (ahead->state != AHEAD_NONE &&
        (ahead->first != step->offset || GetTickCount() - ahead->sentTick >= gDeltaAheadIdleMs)) {
        dropAhead(ahead);
    }
    if (ahead->state == AHEAD_FAILED) {
        *failure = ahead->failure;
        ahead->state = AHEAD_NONE;
        return 0;
    }
    if (ahead->state == AHEAD_NONE && !sendRange(worker, job, step->offset, last, request, failure)) return 0;
    ahead->state = AHEAD_SENT;  // closed below, whichever way it went
    if (!answersRange(request, step->offset, last, job->size)) {
        // A passing status is tried again; any other answer does not continue the part exactly.
        failWith(failure, FAIL_HTTP_STATUS, 0);
        failure->httpStatus = request->status;
        failure->retryAfterSeconds = request->retryAfterSeconds;
        if (!isPassingFailure(failure)) *why = WHY_RANGE;
    } else if (receiveBody(worker, last + 1, part, digest, request, have, failure)) {
        fetched = *have == last + 1;
        if (!fetched) {
            failWith(failure, FAIL_CUT, 0);
            failure->expected = step->length;
            failure->actual = *have - before;
        }
    }
    worker->delta.fetchedBytes += *have - before;
    dropAhead(ahead);
    return fetched;
}

// The whole file instead, once: said in the log with the reason.
static int giveWay(Worker* worker, const ManifestEntry* job, int why, const Failure* failure) {
    static const char* const codes[] = {"", "block-index", "match", "range", "local-copy", "digest", "memory"};
    static const char* const texts[] = {"",
                                        "the block index is missing, cut or not the file's",
                                        "the old copy matched past the work allowed",
                                        "an answer was not the range asked for",
                                        "the old copy could not be read as it was matched",
                                        "the built file does not have the manifest's digest",
                                        "no memory for the match"};
    char detail[RUN_LOG_DETAIL_SIZE], reason[RUN_LOG_DETAIL_SIZE];
    if (why == WHY_NONE) formatFailureDetail(reason, failure, "");
    formatText(detail, sizeof(detail), "%s (from %s): fetching the whole file", why ? texts[why] : reason,
               worker->queue->bases[worker->base]);
    logEvent("delta-failed", job->path, why ? codes[why] : failureCode(failure->reason), detail);
    endDelta(worker);
    return TRY_WHOLE_FILE;
}

static void logDelta(const Worker* worker, const ManifestEntry* job) {
    const DeltaJob* delta = &worker->delta;
    char detail[RUN_LOG_DETAIL_SIZE];
    formatText(detail, sizeof(detail),
               "%llu of %llu bytes over the network in %d requests (the block index's %llu included), %llu from the "
               "old copy, %llu from a part kept earlier",
               (unsigned long long)delta->fetchedBytes, (unsigned long long)job->size, delta->requests,
               (unsigned long long)delta->indexBytes, (unsigned long long)delta->localBytes,
               (unsigned long long)delta->earlierBytes);
    logEvent("file-delta", job->path, "-", detail);
}

int tryDelta(Worker* worker, const ManifestEntry* job, const JobFiles* files, Failure* failure) {
    DeltaJob* delta = &worker->delta;
    int result = TRY_FAILED, keepPart = 1, why = WHY_NONE, firstTry = delta->state == DELTA_WANTED;
    uint64_t have = 0;
    Sha256 digest = {};
    HANDLE part = nullptr, local = nullptr;
    BlockStep step;
    AheadRange ahead = {};
    failWith(failure, FAIL_NONE, 0);
    if (firstTry && !planDelta(worker, job, files, &why, failure)) goto done;
    if (!openJobPart(worker, job, files, 1, &part, &digest, &have, failure)) goto done;
    if (firstTry) delta->earlierBytes = have;
    // Others may read, write or replace the old copy meanwhile; the digest decides.
    if (!(local = openLocal(files->target, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))) {
        why = WHY_LOCAL;
        goto done;
    }
    while (blockPlanStep(&delta->plan, have, &step)) {
        if (diskIsFull(worker, failure)) goto done;
        if (!step.fetch) askAhead(worker, job, &step, &ahead);
        int stepped =
            step.fetch ? fetchRange(worker, job, &step, &ahead, part, &digest, &have, &why, failure)
                       : copyLocal(worker, local, step.localOffset, step.length, part, &digest, &have, &why, failure);
        if (!stepped) goto done;
    }
    CloseHandle(local);
    local = nullptr;
    if (!installChecked(worker, job, files, part, &digest, &why, &keepPart, failure)) goto done;
    logDelta(worker, job);
    result = TRY_INSTALLED;

done:
    dropAhead(&ahead);
    sha256End(&digest);
    if (local) CloseHandle(local);
    if (part) CloseHandle(part);
    if (result == TRY_INSTALLED) return result;
    if (!keepPart) DeleteFileA(files->part);
    // What the retry rule takes, or what the whole file would meet as well.
    if (why == WHY_NONE && (keepsWhatArrived(failure) || (!isBaseFailure(failure) && failure->reason != FAIL_MEMORY))) {
        return TRY_FAILED;
    }
    return giveWay(worker, job, why, failure);
}
