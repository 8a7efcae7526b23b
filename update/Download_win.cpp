#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/ClientPath.h"
#include "update/Digest.h"
#include "update/DiskSpace.h"
#include "update/Download.h"
#include "update/DownloadJob.h"
#include "update/DownloadStatus.h"
#include "update/Http.h"
#include "update/PartFile.h"
#include "update/RunLog.h"
#include "update/Status.h"
#include "update/Throttle.h"

uint32_t gRetryPauseUnitMs = 1000;

void failWith(Failure* failure, int32_t reason, uint32_t systemError) {
    *failure = Failure{};
    failure->reason = reason;
    failure->systemError = systemError;
    failure->retryAfterSeconds = -1;
}

// Creates every folder on the way to target; Windows reads "/" as a
// separator too. The nearest folder is tried first: most files go where an
// earlier file made it, and one call settles them. Only when that fails is
// the whole way walked, from the outside in; failures there (the drive,
// folders that exist) are expected and ignored.
static void createFoldersFor(char* target, size_t clientDirLength) {
    char* last = nullptr;
    for (char* p = target + clientDirLength + 1; *p; ++p) {
        if (isClientPathSeparator(*p)) last = p;
    }
    if (!last) return;
    char lastSeparator = *last;
    *last = 0;
    int there = CreateDirectoryA(target, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    if (!there) {
        for (char* p = target; p < last; ++p) {
            if (!isClientPathSeparator(*p)) continue;
            char separator = *p;
            *p = 0;
            CreateDirectoryA(target, nullptr);
            *p = separator;
        }
        CreateDirectoryA(target, nullptr);
    }
    *last = lastSeparator;
}

static void reportProgress(const DownloadQueue* queue, uint64_t done, int32_t finished) {
    setProgress(downloadProgressPermille(done, queue->totalBytes));
    showDownloadStatus(queue->status, done, finished);
}

static uint64_t bytesSoFar(const DownloadQueue* queue) {
    int64_t received = __atomic_load_n(&queue->receivedBytes, __ATOMIC_SEQ_CST);
    uint64_t done = addSaturating(__atomic_load_n(&queue->doneBytes, __ATOMIC_SEQ_CST), received > 0 ? received : 0);
    return done < queue->totalBytes ? done : queue->totalBytes;
}

// This job now holds have bytes. While files download the bar follows the
// bytes, at most about ten times a second whoever receives them.
void countReceived(Worker* worker, uint64_t have) {
    DownloadQueue* queue = worker->queue;
    __atomic_add_fetch(&queue->receivedBytes, (int64_t)have - worker->counted, __ATOMIC_SEQ_CST);
    worker->counted = (int64_t)have;
    uint32_t now = GetTickCount(), last = queue->lastReportTick;
    if (now - last < DOWNLOAD_REPORT_INTERVAL_MS) return;
    if (!__atomic_compare_exchange_n(&queue->lastReportTick, &last, now, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
        return;
    }
    reportProgress(queue, bytesSoFar(queue), __atomic_load_n(&queue->finishedCount, __ATOMIC_SEQ_CST));
}

// Eight transfers in a row that found no server end a base's downloads in a
// run: the rest go to the next base, or fail at once, instead of each waiting
// for its own time-outs.
static void noteReachability(DownloadQueue* queue, int32_t base, const Failure* failure) {
    if (!isUnreachable(failure)) {
        __atomic_store_n(&queue->unreachableInARow[base], 0, __ATOMIC_SEQ_CST);
    } else if (__atomic_add_fetch(&queue->unreachableInARow[base], 1, __ATOMIC_SEQ_CST) >= DOWNLOAD_UNREACHABLE_LIMIT) {
        __atomic_store_n(&queue->serverGone[base], 1, __ATOMIC_SEQ_CST);
    }
}

// The part file starts over: empty, and nothing of it in the digest.
static int startOver(HANDLE file, Sha256* digest, uint64_t* have, Failure* failure) {
    sha256End(digest);
    *have = 0;
    if (!emptyPart(file, failure)) return 0;
    if (!sha256Begin(digest)) {
        failWith(failure, FAIL_MEMORY, 0);
        return 0;
    }
    return 1;
}

// Takes what an earlier try or run left in the part into the digest; the
// transfer asks only for what the part lacks.
static int takeExistingPart(Worker* worker, const ManifestEntry* job, HANDLE file, int allowResume, Sha256* digest,
                            uint64_t* have, Failure* failure) {
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    *have = (uint64_t)size.QuadPart;
    if (*have == 0) return 1;
    if (!allowResume || *have > job->size ||
        !sha256AddFile(digest, file, *have, worker->buffer, DOWNLOAD_BUFFER_SIZE)) {
        return startOver(file, digest, have, failure);
    }
    return 1;
}

// An answer to a Range request that continues the part exactly.
static int continuesPart(const HttpRequest* request, uint64_t have, uint64_t size) {
    return request->status == 206 && request->hasRange && request->rangeFirst == have && request->rangeTotal == size &&
           (!request->hasLength || request->length == size - have);
}

// Sends the request for what the part file still lacks. Whatever does not
// continue the part exactly starts the file over: a server that ignores the
// Range request has sent the whole file already, any other answer is asked
// for again without a range.
static int requestRest(const ManifestEntry* job, const JobFiles* files, HANDLE file, Sha256* digest, uint64_t* have,
                       HttpRequest* request, Failure* failure) {
    if (!httpSend(files->url, *have, request, failure)) return 0;
    if (*have == 0 || continuesPart(request, *have, job->size)) return 1;
    int status = request->status;
    // An error answer keeps the part for the next try.
    if (status != 200 && status != 206 && status != 416) return 1;
    if (!startOver(file, digest, have, failure)) return 0;
    if (status == 200) return 1;
    httpClose(request);
    return httpSend(files->url, 0, request, failure);
}

int diskIsFull(const Worker* worker, Failure* failure) {
    if (!__atomic_load_n(&worker->queue->diskFull, __ATOMIC_SEQ_CST)) return 0;
    failWith(failure, FAIL_DISK_FULL, ERROR_DISK_FULL);
    return 1;
}

int readPaced(DownloadQueue* queue, HttpRequest* request, const char** data, uint32_t* got, Failure* failure) {
    uint32_t allowed = throttleRead(queue->throttle, request, DOWNLOAD_BUFFER_SIZE);
    *got = 0;
    int read = httpRead(request, allowed, data, got, failure);
    throttleUnused(queue->throttle, allowed - *got);
    if (read) countNetworkBytes(queue->status, *got);
    return read;
}

int bodyEndedWhole(const HttpRequest* request, Failure* failure) {
    if (!request->hasLength || request->received >= request->length) return 1;
    failWith(failure, FAIL_CUT, 0);
    failure->httpStatus = request->status;
    failure->expected = request->length;
    failure->actual = request->received;
    return 0;
}

int receiveBody(Worker* worker, uint64_t end, HANDLE file, Sha256* digest, HttpRequest* request, uint64_t* have,
                Failure* failure) {
    DownloadQueue* queue = worker->queue;
    for (;;) {
        if (diskIsFull(worker, failure)) return 0;
        const char* data = nullptr;
        uint32_t got = 0;
        if (!readPaced(queue, request, &data, &got, failure)) return 0;
        if (got == 0) break;
        if (got > end - *have) {
            failWith(failure, FAIL_LENGTH, 0);
            failure->expected = end;
            failure->actual = *have + got;
            return 0;
        }
        DWORD written = 0;
        if (!gWritePart(file, data, got, &written) || written != got) {
            failWith(failure, FAIL_WRITE, GetLastError());
            noteFullDisk(queue, failure);
            return 0;
        }
        if (!sha256Add(digest, data, got)) {
            failWith(failure, FAIL_MEMORY, 0);
            return 0;
        }
        *have += got;
        countReceived(worker, *have);
    }
    return bodyEndedWhole(request, failure);
}

static void logDigestMismatch(const Worker* worker, const ManifestEntry* job, const char* digest, int resumed) {
    char detail[RUN_LOG_DETAIL_SIZE];
    formatText(detail, sizeof(detail), "%s%s where the manifest says %s (from %s)", resumed ? "resumed file " : "",
               digest, job->sha256, worker->queue->bases[worker->base]);
    logEvent(resumed || !worker->lastBase ? "retry" : "file-failed", job->path, failureCode(FAIL_DIGEST), detail);
}

int openJobPart(Worker* worker, const ManifestEntry* job, const JobFiles* files, int allowResume, HANDLE* part,
                Sha256* digest, uint64_t* have, Failure* failure) {
    if (!(*part = openPart(files->part, failure))) {
        noteFullDisk(worker->queue, failure);
        return 0;
    }
    if (!sha256Begin(digest)) {
        failWith(failure, FAIL_MEMORY, 0);
        return 0;
    }
    if (!takeExistingPart(worker, job, *part, allowResume, digest, have, failure)) return 0;
    countReceived(worker, *have);
    return 1;
}

// One try: resume or fetch the file into its part, check its size and
// digest, and move it over the target.
static int tryJob(Worker* worker, const ManifestEntry* job, const JobFiles* files, int allowResume, Failure* failure) {
    int result = TRY_FAILED, keepPart = 0, fromPart = 0;
    uint64_t have = 0;
    Sha256 digest = {};
    HttpRequest request = {};
    char hex[DIGEST_TEXT_SIZE];
    HANDLE file = nullptr;
    if (!openJobPart(worker, job, files, allowResume, &file, &digest, &have, failure)) {
        if (!file) return TRY_FAILED;
        goto done;
    }
    fromPart = have > 0;
    // A whole part from an earlier run (its target was in use) needs no request.
    if (have < job->size || job->size == 0) {
        if (!requestRest(job, files, file, &digest, &have, &request, failure)) {
            keepPart = have > 0;
            goto done;
        }
        if (request.status != (have > 0 ? 206 : 200)) {
            failWith(failure, FAIL_HTTP_STATUS, 0);
            failure->httpStatus = request.status;
            failure->retryAfterSeconds = request.retryAfterSeconds;
            keepPart = have > 0;
            goto done;
        }
        fromPart = have > 0;
        if (fromPart) {
            char detail[96];
            formatText(detail, sizeof(detail), "from byte %llu of %llu", (unsigned long long)have,
                       (unsigned long long)job->size);
            logEvent("file-resumed", job->path, "-", detail);
        } else if (request.hasLength && request.length != job->size) {
            // Refused before a byte of the body is read.
            failWith(failure, FAIL_LENGTH, 0);
            failure->httpStatus = request.status;
            failure->expected = job->size;
            failure->actual = request.length;
            goto done;
        }
        if (!receiveBody(worker, job->size, file, &digest, &request, &have, failure)) {
            keepPart = keepsWhatArrived(failure) && have > 0;
            goto done;
        }
        if (have != job->size) {
            failWith(failure, FAIL_LENGTH, 0);
            failure->expected = job->size;
            failure->actual = have;
            goto done;
        }
    }
    if (!sha256Finish(&digest, hex)) {
        failWith(failure, FAIL_MEMORY, 0);
        goto done;
    }
    if (!equalsIgnoreCase(hex, job->sha256)) {
        failWith(failure, FAIL_DIGEST, 0);
        logDigestMismatch(worker, job, hex, fromPart);
        if (fromPart) result = TRY_WHOLE_AGAIN;
        goto done;
    }
    httpClose(&request);
    if (!installJobPart(worker, file, files->target, &keepPart, failure)) goto done;
    result = TRY_INSTALLED;

done:
    sha256End(&digest);
    httpClose(&request);
    CloseHandle(file);
    if (result != TRY_INSTALLED && !keepPart) DeleteFileA(files->part);
    return result;
}

int installJobPart(Worker* worker, HANDLE part, const char* target, int* keepPart, Failure* failure) {
    const DownloadQueue* queue = worker->queue;
    // The spelling passed every rule; the file itself must not be one of ours.
    if (isOwnFile(queue->ownFiles, target)) {
        failWith(failure, FAIL_OWN_FILE, 0);
        return 0;
    }
    // On failure (the target is in use) the verified part stays for next time.
    *keepPart = 1;
    return queue->install ? queue->install(queue->installContext, part, target, failure)
                          : installPart(part, target, failure);
}

// Sleeps between tries, in slices, so that a run whose server has gone or
// whose disk is full does not wait for nothing.
static void pauseBeforeRetry(const DownloadQueue* queue, int32_t base, uint32_t ms) {
    for (uint32_t slept = 0; slept < ms && !__atomic_load_n(&queue->serverGone[base], __ATOMIC_SEQ_CST) &&
                             !__atomic_load_n(&queue->diskFull, __ATOMIC_SEQ_CST);
         slept += 50) {
        Sleep(ms - slept < 50 ? ms - slept : 50);
    }
}

static void logRetry(const Worker* worker, const ManifestEntry* job, const Failure* failure, int nextTry,
                     uint32_t pauseMs) {
    char detail[RUN_LOG_DETAIL_SIZE], reasonText[RUN_LOG_DETAIL_SIZE];
    formatFailureDetail(reasonText, failure, "");
    formatText(detail, sizeof(detail), "try %d of %d in %u ms: %s (from %s)", nextTry, DOWNLOAD_TRIES,
               (unsigned)pauseMs, reasonText, worker->queue->bases[worker->base]);
    logEvent("retry", job->path, failureCode(failure->reason), detail);
}

// The job's URL under the worker's base; 0 with the failure recorded when it
// does not fit.
static int buildJobUrl(const Worker* worker, const ManifestEntry* job, char* url, Failure* failure) {
    const DownloadQueue* queue = worker->queue;
    const char* base = queue->bases[worker->base];
    int built = queue->objects ? buildObjectUrl(url, base, job->sha256) : buildFileUrl(url, base, job->path);
    if (!built) failWith(failure, FAIL_PATH_TOO_LONG, 0);
    return built;
}

// The tries of one job from the worker's base: passing failures are tried
// again, resuming what arrived. Returns 1 when the file was installed.
static int downloadFromBase(Worker* worker, const ManifestEntry* job, JobFiles* files, Failure* failure) {
    DownloadQueue* queue = worker->queue;
    int tries = 0, allowResume = 1;
    if (!buildJobUrl(worker, job, files->url, failure)) return 0;
    for (;;) {
        if (__atomic_load_n(&queue->serverGone[worker->base], __ATOMIC_SEQ_CST)) {
            failWith(failure, FAIL_SERVER_GONE, 0);
            return 0;
        }
        if (diskIsFull(worker, failure)) return 0;
        int delta = worker->delta.state != DELTA_NONE;
        int result = delta ? tryDelta(worker, job, files, failure) : tryJob(worker, job, files, allowResume, failure);
        noteReachability(queue, worker->base, failure);
        if (result == TRY_INSTALLED) return 1;
        // A delta that cannot be had leaves the file to tries of its own, whole.
        if (result == TRY_WHOLE_FILE) {
            tries = 0;
            continue;
        }
        // A resumed file that does not match is fetched whole once more.
        if (result == TRY_WHOLE_AGAIN && allowResume) {
            allowResume = 0;
            continue;
        }
        if (!isPassingFailure(failure) || ++tries >= DOWNLOAD_TRIES) return 0;
        uint32_t pauseMs = (uint32_t)retryPauseUnits(tries, failure) * gRetryPauseUnitMs;
        logRetry(worker, job, failure, tries + 1, pauseMs);
        pauseBeforeRetry(queue, worker->base, pauseMs);
    }
}

// Returns 1 when the file was downloaded, verified and installed. It starts
// at the base that gave the manifest and moves to the next (in order,
// wrapping) when that one fails it; it fails when every base did.
static int downloadJob(Worker* worker, const ManifestEntry* job) {
    DownloadQueue* queue = worker->queue;
    JobFiles files;
    Failure failure = {};
    worker->base = queue->firstBase;
    worker->lastBase = queue->baseCount <= 1;
    if (queue->objects && !isDigestText(job->sha256)) {
        failWith(&failure, FAIL_DIGEST, 0);
        logEvent("file-failed", job->path, failureCode(FAIL_DIGEST), "not a SHA-256 digest: no object has it");
    } else if (!buildJobPaths(launcherState.clientDir, job->path, files.target, files.part)) {
        failWith(&failure, FAIL_PATH_TOO_LONG, 0);
    } else if (isOwnFile(queue->ownFiles, files.target) || isOwnFile(queue->ownFiles, files.part)) {
        failWith(&failure, FAIL_OWN_FILE, 0);
    } else {
        createFoldersFor(files.target, strlen(launcherState.clientDir));
        // A file the client holds already under another path costs no request.
        int copied = copyFromLocalFile(worker, job, &files, &failure);
        if (copied == TRY_INSTALLED) return 1;
        startDelta(worker, job, &files);
        for (int32_t step = 0; copied == TRY_WHOLE_FILE && step < queue->baseCount; ++step) {
            worker->base = (queue->firstBase + step) % queue->baseCount;
            worker->lastBase = step + 1 == queue->baseCount;
            if (downloadFromBase(worker, job, &files, &failure)) return 1;
            if (!isBaseFailure(&failure) || worker->lastBase) break;
            if (failure.reason != FAIL_DIGEST) logFailureFrom("retry", job->path, queue->bases[worker->base], &failure);
        }
    }
    if (failure.reason != FAIL_DIGEST) logFailureFrom("file-failed", job->path, queue->bases[worker->base], &failure);
    return 0;
}

unsigned long __stdcall downloadWorker(void* argument) {
    Worker worker = {};
    worker.queue = (DownloadQueue*)argument;
    DownloadQueue* queue = worker.queue;
    worker.buffer = (char*)gHttpReallocate(nullptr, DOWNLOAD_BUFFER_SIZE);
    for (;;) {
        int32_t index = __atomic_add_fetch(&queue->nextJob, 1, __ATOMIC_SEQ_CST);
        if (index >= queue->jobCount) break;
        ManifestEntry job = {};
        // The check read this line already: its fields read again.
        int read = readJob(queue->jobs, index, &job);

        worker.counted = 0;
        int installed = read && worker.buffer && downloadJob(&worker, &job);
        endDelta(&worker);
        if (read && !worker.buffer) {
            Failure failure = {};
            failWith(&failure, FAIL_MEMORY, 0);
            logFailure("file-failed", job.path, &failure);
        }
        if (!installed) __atomic_add_fetch(&queue->failedCount, 1, __ATOMIC_SEQ_CST);
        // The manifest size counts whatever the outcome: finished files count
        // whole, the received bytes of this one are no longer in flight.
        __atomic_add_fetch(&queue->receivedBytes, -worker.counted, __ATOMIC_SEQ_CST);
        uint64_t done = queue->doneBytes, added;
        do {
            added = addSaturating(done, job.size);
        } while (
            !__atomic_compare_exchange_n(&queue->doneBytes, &done, added, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST));
        int32_t finished = __atomic_add_fetch(&queue->finishedCount, 1, __ATOMIC_SEQ_CST);
        if (shouldReportProgress(finished, queue->jobCount)) reportProgress(queue, bytesSoFar(queue), finished);
    }
    gHttpReallocate(worker.buffer, 0);
    return 0;
}
