#include "update/UpdateRun.h"

#include <stdlib.h>
#include <string.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "shell/Threads.h"
#include "update/Cache.h"
#include "update/Digest.h"
#include "update/Documents.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/PathSet.h"
#include "update/Status.h"

void* (*openUpdateInternet)() = httpOpenInternet;

static const char* const TEXT_NO_SERVER = "Sin conexion con el servidor de actualizaciones. Podes jugar igual.";

enum { DOCUMENT_URL_SIZE = 600, VERIFY_REPORT_EVERY = 20 };

static DWORD endRun(WPARAM outcome) {
    PostMessageA(launcherState.mainWindow, WM_UPDATE_DONE, outcome, 0);
    return 0;
}

static char* fetchDocument(void* internet, const char* name, uint32_t* length) {
    char url[DOCUMENT_URL_SIZE];
    formatText(url, sizeof(url), "%s%s", launcherState.updateUrl, name);
    return httpFetch(internet, url, length);
}

static void fetchNews(void* internet) {
    uint32_t length = 0;
    char* news = fetchDocument(internet, "news.txt", &length);
    if (!news) return;  // no news is not worth a word
    parseNews(news);
    free(news);
    postStatusChanged();
}

// Whether the local copy of entry is good. A file whose size and write time
// match its cache record is not read at all, unless every file is verified.
static int isLocalFileGood(const ManifestEntry* entry) {
    char localPath[LOCAL_PATH_SIZE];
    // A cut path would name another file: download instead, which fails cleanly.
    if (!buildLocalPath(localPath, launcherState.clientDir, entry->path)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(localPath, GetFileExInfoStandard, &data)) return 0;
    uint64_t size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    if (size != entry->size) return 0;

    CacheEntry* record = findCacheEntry(entry->path);
    if (record && !launcherState.fullVerify && record->size == entry->size &&
        record->writeTime.low == data.ftLastWriteTime.dwLowDateTime &&
        record->writeTime.high == data.ftLastWriteTime.dwHighDateTime) {
        return equalsIgnoreCase(record->sha256, entry->sha256);
    }

    char digest[DIGEST_TEXT_SIZE];
    if (!fileSha256Hex(localPath, digest)) return 0;
    if (!record) record = addCacheEntry(entry->path);
    if (record) {
        // Kept even when it does not match: a job's record is dropped after the downloads.
        record->size = entry->size;
        record->writeTime.low = data.ftLastWriteTime.dwLowDateTime;
        record->writeTime.high = data.ftLastWriteTime.dwHighDateTime;
        memcpy(record->sha256, digest, sizeof(digest));
    }
    return equalsIgnoreCase(digest, entry->sha256);
}

// Downloads the jobs on up to 8 workers. If a worker thread cannot be
// created, this thread works the queue too, so no job is left unclaimed; the
// queue and the list are only released after every started worker has ended.
static int32_t downloadJobs(void* internet, const ManifestEntry* jobs, int32_t jobCount) {
    DownloadQueue queue = {};
    queue.internet = internet;
    queue.jobs = jobs;
    queue.jobCount = jobCount;
    queue.nextJob = -1;
    for (int32_t i = 0; i < jobCount; ++i) queue.totalBytes += jobs[i].size;

    setStatus("Descargando %d archivo(s)...", jobCount);
    setProgress(0);

    HANDLE workers[MAX_DOWNLOAD_WORKERS];
    DWORD wanted = jobCount < MAX_DOWNLOAD_WORKERS ? (DWORD)jobCount : (DWORD)MAX_DOWNLOAD_WORKERS;
    DWORD started = 0;
    for (DWORD i = 0; i < wanted; ++i) {
        HANDLE worker = startThread(downloadWorker, &queue);
        if (worker) workers[started++] = worker;
    }
    if (started < wanted) downloadWorker(&queue);
    if (started > 0) WaitForMultipleObjects(started, workers, TRUE, INFINITE);
    for (DWORD i = 0; i < started; ++i) CloseHandle(workers[i]);
    return queue.failedCount;
}

static int32_t countLineFeeds(const char* text) {
    int32_t count = 0;
    for (; *text; ++text) count += *text == '\n';
    return count;
}

DWORD WINAPI updateRun(void*) {
    LauncherState& s = launcherState;
    if (s.updateUrl[0] == 0) {
        setStatus("Listo para jugar.");
        return endRun(1);
    }
    if (!isAcceptedUpdateUrl(s.updateUrl)) {
        setStatus("UpdateUrl debe empezar con https://");
        return endRun(0);
    }
    setStatus("Buscando actualizaciones...");
    void* internet = openUpdateInternet();
    if (!internet) {
        setStatus("%s", TEXT_NO_SERVER);
        return endRun(1);
    }
    uint32_t manifestLength = 0;
    char* manifest = fetchDocument(internet, "manifest.txt", &manifestLength);
    if (!manifest) {
        setStatus("%s", TEXT_NO_SERVER);
        httpCloseInternet(internet);
        return endRun(1);
    }
    if (s.newsCount == 0) fetchNews(internet);
    loadCache();

    int32_t lineCount = countLineFeeds(manifest);
    ManifestEntry* jobs = (ManifestEntry*)malloc(((size_t)lineCount + 1) * sizeof(ManifestEntry));
    int32_t jobCount = 0;
    // Without room for the list nothing can be downloaded; every file that
    // needs it counts as failed and the user is asked to repair.
    int32_t failed = 0, updated = 0;
    PathSet seen = {};
    ManifestEntry entry;

    char* line = manifest;
    for (int32_t lineIndex = 0; line; ++lineIndex) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        char* next = lineFeed ? lineFeed + 1 : nullptr;

        if (parseManifestLine(line, &entry)) {
            if (lineIndex % VERIFY_REPORT_EVERY == 0) {
                setProgress(lineCount ? (int32_t)((int64_t)lineIndex * 1000 / lineCount) : 0);
                setStatus("Verificando archivos...");
            }
            // The first line of a path decides; a repeat would have two
            // workers writing one ".part" file.
            if (addPathOnce(&seen, entry.path) && !isLocalFileGood(&entry)) {
                if (jobs) {
                    jobs[jobCount++] = entry;
                } else {
                    dropCacheEntry(entry.path);
                    ++failed;
                }
            }
        }
        line = next;
    }
    freePathSet(&seen);

    if (jobCount > 0) {
        int32_t jobFailures = downloadJobs(internet, jobs, jobCount);
        failed += jobFailures;
        updated = jobCount - jobFailures;
        // Downloaded or not, these files are hashed afresh next time.
        for (int32_t i = 0; i < jobCount; ++i) dropCacheEntry(jobs[i].path);
    }
    free(jobs);
    saveCache();
    free(manifest);
    httpCloseInternet(internet);
    setProgress(1000);

    if (failed > 0) {
        setStatus("%d archivo(s) no se pudieron actualizar. Proba Reparar.", failed);
        return endRun(0);
    }
    if (updated > 0) {
        setStatus("Actualizado: %d archivo(s). Listo para jugar.", updated);
        return endRun(1);
    }
    setStatus("Tu cliente esta al dia. Listo para jugar.");
    return endRun(1);
}
