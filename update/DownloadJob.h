// One job of a download worker, as the whole-file path (Download_win.cpp) and
// the paths that build a job's ".part" from bytes already on the disk
// (Delta_win.cpp) share it: the worker's state, the job's files and the steps
// both take.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "update/BlockDelta.h"
#include "update/Digest.h"
#include "update/Download.h"
#include "update/Http.h"

// What one try of a job came to. TRY_WHOLE_AGAIN: a resumed part did not
// match, the file is fetched whole once more; TRY_WHOLE_FILE: the file could
// not be built from local bytes, it is fetched the usual way instead.
enum { TRY_INSTALLED, TRY_FAILED, TRY_WHOLE_AGAIN, TRY_WHOLE_FILE };

enum { DELTA_NONE, DELTA_WANTED, DELTA_PLANNED };

// The delta of the job at hand, kept from one try to the next so that a
// retry resumes the build without fetching the index or matching again.
struct DeltaJob {
    int32_t state;  // DELTA_*
    BlockPlan plan;
    uint64_t reserved;      // bytes of the run's delta memory budget held
    uint64_t fetchedBytes;  // over the network, the index's included
    uint64_t indexBytes;
    uint64_t localBytes;    // copied from the old copy
    uint64_t earlierBytes;  // in the part when the first try began
    int32_t requests;
};

// What one worker holds for all its jobs.
struct Worker {
    DownloadQueue* queue;
    int32_t base;      // the base this job's transfers go to now
    int32_t lastBase;  // 1 when no other base is left to try this job from
    char* buffer;      // DOWNLOAD_BUFFER_SIZE bytes, for a kept part and local copies; transfers read into their own
    int64_t counted;   // this job's bytes in queue->receivedBytes
    DeltaJob delta;
};

struct JobFiles {
    char url[FILE_URL_SIZE];
    char target[LOCAL_PATH_SIZE];
    char part[LOCAL_PATH_SIZE];
};

// ---- Download_win.cpp

void failWith(Failure* failure, int32_t reason, uint32_t systemError);

// This job now holds have bytes, for the progress bar.
void countReceived(Worker* worker, uint64_t have);

// Opens the job's part and takes what an earlier try or run left in it: its
// bytes go into the digest, the build goes on after them (only with
// allowResume; otherwise, or when the part is longer than the file or cannot
// be read, it is emptied). *part is set whenever it was opened, for the
// caller to close.
int openJobPart(Worker* worker, const ManifestEntry* job, const JobFiles* files, int allowResume, HANDLE* part,
                Sha256* digest, uint64_t* have, Failure* failure);

// Moves the verified part over its target by the queue's install step,
// unless the target is one of the launcher's own files. *keepPart: 1 once
// only the move can fail, as the part's bytes are the file's.
int installJobPart(Worker* worker, HANDLE part, const char* target, int* keepPart, Failure* failure);

// 1, with the failure, once a write of the run found the disk full.
int diskIsFull(const Worker* worker, Failure* failure);

// One read of request's body within the run's speed limit, its bytes counted
// in the speed; as httpRead.
int readPaced(DownloadQueue* queue, HttpRequest* request, const char** data, uint32_t* got, Failure* failure);

// 0, with FAIL_CUT, when the body that ended was shorter than its declared length.
int bodyEndedWhole(const HttpRequest* request, Failure* failure);

// Streams the body of request into the part and the digest while the part
// may grow up to end bytes (the file's size, or the end of a range): more
// fails with FAIL_LENGTH, a body shorter than its declared length with
// FAIL_CUT. Network bytes count in the speed.
int receiveBody(Worker* worker, uint64_t end, HANDLE file, Sha256* digest, HttpRequest* request, uint64_t* have,
                Failure* failure);

// ---- Delta_win.cpp

// A file whose digest the verification cache knows under another path, whose
// file still has that record's size and write time, is copied into the part
// and installed once it has its digest: no request. TRY_WHOLE_FILE when there
// is no such copy or it did not match (then the part is empty).
int copyFromLocalFile(Worker* worker, const ManifestEntry* job, const JobFiles* files, Failure* failure);

// Whether the job is built from its old copy: the release publishes a block
// index for it and its target holds at least a block.
void startDelta(Worker* worker, const ManifestEntry* job, const JobFiles* files);

// One try of the delta from the worker's base: the index, the match and the
// plan (once), then the part built on from what it holds, in order, from the
// old copy and single-range requests, and installed with the manifest's
// digest. TRY_FAILED with a failure the retry rule takes (the part keeps what
// it has); TRY_WHOLE_FILE, logged, when the delta cannot be had: the job is
// fetched whole, resuming the part unless its bytes proved wrong.
int tryDelta(Worker* worker, const ManifestEntry* job, const JobFiles* files, Failure* failure);

// Lets go of the job's plan and its share of the memory budget.
void endDelta(Worker* worker);
