#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Digest.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/Status.h"

// Creates every folder on the way to target, from the outside in. Failures
// are expected (the drive, folders that exist) and ignored.
static void createFoldersFor(char* target) {
    for (char* p = target; *p; ++p) {
        if (*p != '\\') continue;
        *p = 0;
        CreateDirectoryA(target, nullptr);
        *p = '\\';
    }
}

// Returns 1 when the file was downloaded, verified and installed.
static int downloadJob(const DownloadQueue* queue, const ManifestEntry* job) {
    char url[FILE_URL_SIZE];
    char target[LOCAL_PATH_SIZE];
    char part[LOCAL_PATH_SIZE];
    char digest[DIGEST_TEXT_SIZE];

    buildFileUrl(url, launcherState.updateUrl, job->path);
    if (!buildJobPaths(launcherState.clientDir, job->path, target, part)) return 0;
    createFoldersFor(target);

    uint32_t length = 0;
    char* body = httpFetch(queue->internet, url, &length);
    if (!body) return 0;
    FILE* file = fopen(part, "wb");
    if (!file) {
        free(body);
        return 0;
    }
    // A short write shows up as a digest mismatch below.
    fwrite(body, 1, length, file);
    fclose(file);
    free(body);

    if (!fileSha256Hex(part, digest) || !equalsIgnoreCase(digest, job->sha256)) {
        DeleteFileA(part);
        return 0;
    }
    SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);  // a read-only target can be replaced
    // On failure (the target is in use) the verified .part stays for next time.
    return MoveFileExA(part, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

static void reportProgress(const DownloadQueue* queue, int64_t done, int32_t finished) {
    setProgress(downloadProgressPermille(done, queue->totalBytes));
    setStatus("Descargando... %d / %d archivos (%d / %d MB)", finished, queue->jobCount, (int)(done / 1048576),
              (int)(queue->totalBytes / 1048576));
}

unsigned long __stdcall downloadWorker(void* argument) {
    DownloadQueue* queue = (DownloadQueue*)argument;
    for (;;) {
        int32_t index = __atomic_add_fetch(&queue->nextJob, 1, __ATOMIC_SEQ_CST);
        if (index >= queue->jobCount) return 0;
        const ManifestEntry* job = &queue->jobs[index];

        if (!downloadJob(queue, job)) __atomic_add_fetch(&queue->failedCount, 1, __ATOMIC_SEQ_CST);
        // The manifest size counts whatever the outcome: the figure is files
        // dealt with, not bytes received.
        int64_t done = __atomic_add_fetch(&queue->doneBytes, (int64_t)job->size, __ATOMIC_SEQ_CST);
        int32_t finished = __atomic_add_fetch(&queue->finishedCount, 1, __ATOMIC_SEQ_CST);
        if (shouldReportProgress(finished, queue->jobCount)) reportProgress(queue, done, finished);
    }
}
