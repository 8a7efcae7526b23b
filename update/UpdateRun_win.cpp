#include "update/UpdateRun.h"

#include <stdlib.h>
#include <string.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "shell/Threads.h"
#include "update/Cache.h"
#include "update/ClientPath.h"
#include "update/Digest.h"
#include "update/Documents.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/OwnFiles.h"
#include "update/PathSet.h"
#include "update/RunLog.h"
#include "update/Signature.h"
#include "update/Status.h"

void* (*gOpenUpdateInternet)() = httpOpenInternet;

static const char* const TEXT_NO_SERVER = "Sin conexion con el servidor de actualizaciones. Podes jugar igual.";
static const char* const TEXT_BAD_SIGNATURE = "La actualizacion no tiene una firma valida. No se instalo nada.";

enum { RELEASE_SIGNED, RELEASE_UNSIGNED, RELEASE_UNREACHABLE };

enum { DOCUMENT_URL_SIZE = 600, VERIFY_REPORT_EVERY = 20, JOB_LIST_FIRST_CAPACITY = 256 };

// The download list grows with the accepted lines, never with what the
// manifest merely claims.
struct JobList {
    ManifestEntry* jobs;
    int32_t count;
    int32_t capacity;
};

static int appendJob(JobList* list, const ManifestEntry* entry) {
    if (list->count == list->capacity) {
        if (list->capacity > INT32_MAX / 2) return 0;
        int32_t capacity = list->capacity ? list->capacity * 2 : JOB_LIST_FIRST_CAPACITY;
        ManifestEntry* grown = (ManifestEntry*)realloc(list->jobs, (size_t)capacity * sizeof(ManifestEntry));
        if (!grown) return 0;
        list->jobs = grown;
        list->capacity = capacity;
    }
    list->jobs[list->count++] = *entry;
    return 1;
}

static DWORD endRun(WPARAM outcome, const char* reason, const char* detail) {
    logEvent("run-end", nullptr, reason, detail);
    closeRunLog();
    PostMessageA(launcherState.mainWindow, WM_UPDATE_DONE, outcome, 0);
    return 0;
}

static char* fetchDocument(void* internet, const char* name, uint32_t limit, uint32_t* length, Failure* failure) {
    char url[DOCUMENT_URL_SIZE];
    formatText(url, sizeof(url), "%s%s", launcherState.updateUrl, name);
    return httpFetch(internet, url, limit, length, failure);
}

// The manifest (and its signature) are tried again like the files are.
static char* fetchDocumentRetrying(void* internet, const char* name, uint32_t limit, uint32_t* length,
                                   Failure* failure) {
    for (int tries = 1;; ++tries) {
        char* text = fetchDocument(internet, name, limit, length, failure);
        if (text || !isPassingFailure(failure) || tries >= DOWNLOAD_TRIES) return text;
        uint32_t pauseMs = (uint32_t)retryPauseUnits(tries, failure) * gRetryPauseUnitMs;
        logFailure("retry", name, failure);
        Sleep(pauseMs);
    }
}

// A launcher built with release keys installs only a manifest signed by one
// of them. A signature that cannot be fetched for a network reason is no
// server; one the server does not have, or that does not match, is a release
// nobody signed.
static int checkReleaseSignature(void* internet, const char* manifest, uint32_t manifestLength) {
    uint32_t length = 0;
    Failure failure;
    char* signature = fetchDocumentRetrying(internet, "manifest.txt.sig", HTTP_SIGNATURE_LIMIT, &length, &failure);
    if (!signature) {
        logFailure("signature-failed", "manifest.txt.sig", &failure);
        return isPassingFailure(&failure) || failure.reason == FAIL_CONNECT ? RELEASE_UNREACHABLE : RELEASE_UNSIGNED;
    }
    int valid = verifyReleaseSignature(manifest, manifestLength, (const unsigned char*)signature, length);
    free(signature);
    if (!valid) logEvent("signature-failed", "manifest.txt.sig", "signature", "matches no release key");
    return valid ? RELEASE_SIGNED : RELEASE_UNSIGNED;
}

static void fetchNews(void* internet) {
    uint32_t length = 0;
    Failure failure;
    char* news = fetchDocument(internet, "news.txt", HTTP_NEWS_LIMIT, &length, &failure);
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
    OwnFiles ownFiles;
    collectOwnFiles(&ownFiles);
    DownloadQueue queue = {};
    queue.internet = internet;
    queue.jobs = jobs;
    queue.jobCount = jobCount;
    queue.ownFiles = &ownFiles;
    queue.nextJob = -1;
    queue.lastReportTick = GetTickCount();
    for (int32_t i = 0; i < jobCount; ++i) queue.totalBytes = addSaturating(queue.totalBytes, jobs[i].size);

    setStatus("Descargando %d archivo(s)...", jobCount);
    setProgress(0);

    HANDLE workers[MAX_DOWNLOAD_WORKERS];
    DWORD wanted = jobCount < MAX_DOWNLOAD_WORKERS ? (DWORD)jobCount : (DWORD)MAX_DOWNLOAD_WORKERS;
    DWORD started = 0;
    for (DWORD i = 0; i < wanted; ++i) {
        HANDLE worker = gStartThread(downloadWorker, &queue);
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

// A line whose fields read but whose path the launcher never writes: worth a
// line in the log, since the operator can mend it.
static void logSkippedPath(const char* path) {
    int refusal = clientPathRefusal(path, launcherState.ownExeName);
    if (refusal != CLIENT_PATH_OK) logEvent("line-skipped", path, "path", clientPathRefusalText(refusal));
}

// Checks every manifest line in order; the files that are not good become
// jobs. Returns the number of files that need a download but could not be
// listed for lack of memory: they count as failed.
static int32_t checkManifest(char* manifest, JobList* list) {
    int32_t lineCount = countLineFeeds(manifest), unlisted = 0;
    PathSet seen = {};
    ManifestEntry entry;
    char* line = manifest;
    for (int32_t lineIndex = 0; line; ++lineIndex) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        int fields = parseManifestFields(line, &entry);
        line = lineFeed ? lineFeed + 1 : nullptr;
        if (!fields) continue;
        if (!isAcceptedManifestPath(entry.path)) {
            logSkippedPath(entry.path);
            continue;
        }
        if (lineIndex % VERIFY_REPORT_EVERY == 0) {
            setProgress(lineCount ? (int32_t)((int64_t)lineIndex * 1000 / lineCount) : 0);
            setStatus("Verificando archivos...");
        }
        // The first line of a path decides; a repeat would have two workers
        // writing one ".part" file.
        if (!addPathOnce(&seen, entry.path) || isLocalFileGood(&entry)) continue;
        if (!appendJob(list, &entry)) {
            dropCacheEntry(entry.path);
            ++unlisted;
        }
    }
    freePathSet(&seen);
    return unlisted;
}

DWORD WINAPI updateRun(void*) {
    LauncherState& s = launcherState;
    if (s.updateUrl[0] == 0) {
        setStatus("Listo para jugar.");
        PostMessageA(s.mainWindow, WM_UPDATE_DONE, 1, 0);
        return 0;
    }
    openRunLog();
    logEvent("run-start", nullptr, s.fullVerify ? "repair" : "check", s.updateUrl);
    if (!isAcceptedUpdateUrl(s.updateUrl)) {
        setStatus("UpdateUrl debe empezar con https://");
        return endRun(0, "url-refused", s.updateUrl);
    }
    setStatus("Buscando actualizaciones...");
    void* internet = gOpenUpdateInternet();
    if (!internet) {
        setStatus("%s", TEXT_NO_SERVER);
        return endRun(1, "no-server", "no internet handle");
    }
    uint32_t manifestLength = 0;
    Failure failure;
    char* manifest = fetchDocumentRetrying(internet, "manifest.txt", HTTP_MANIFEST_LIMIT, &manifestLength, &failure);
    if (!manifest) {
        setStatus("%s", TEXT_NO_SERVER);
        httpCloseInternet(internet);
        logFailure("manifest-failed", "manifest.txt", &failure);
        return endRun(1, "no-server", nullptr);
    }
    int release = gReleaseKeyCount > 0 ? checkReleaseSignature(internet, manifest, manifestLength) : RELEASE_SIGNED;
    if (release != RELEASE_SIGNED) {
        free(manifest);
        httpCloseInternet(internet);
        if (release == RELEASE_UNREACHABLE) {
            setStatus("%s", TEXT_NO_SERVER);
            return endRun(1, "no-server", "no signature");
        }
        setStatus("%s", TEXT_BAD_SIGNATURE);
        return endRun(0, "bad-signature", nullptr);
    }
    if (s.newsCount == 0) fetchNews(internet);
    loadCache();

    JobList list = {};
    int32_t failed = checkManifest(manifest, &list), updated = 0;
    if (list.count > 0) {
        int32_t jobFailures = downloadJobs(internet, list.jobs, list.count);
        failed += jobFailures;
        updated = list.count - jobFailures;
        // Downloaded or not, these files are hashed afresh next time.
        for (int32_t i = 0; i < list.count; ++i) dropCacheEntry(list.jobs[i].path);
    }
    free(list.jobs);
    saveCache();
    free(manifest);
    httpCloseInternet(internet);
    setProgress(1000);

    char detail[96];
    formatText(detail, sizeof(detail), "%d updated, %d failed", updated, failed);
    if (failed > 0) {
        setStatus("%d archivo(s) no se pudieron actualizar. Proba Reparar.", failed);
        return endRun(0, "failed", detail);
    }
    if (updated > 0) {
        setStatus("Actualizado: %d archivo(s). Listo para jugar.", updated);
        return endRun(1, "updated", detail);
    }
    setStatus("Tu cliente esta al dia. Listo para jugar.");
    return endRun(1, "up-to-date", detail);
}
