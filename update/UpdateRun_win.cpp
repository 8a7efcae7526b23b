#include "update/UpdateRun.h"

#include <stdlib.h>
#include <string.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "shell/Threads.h"
#include "update/Cache.h"
#include "update/Check.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/OwnFiles.h"
#include "update/RunLog.h"
#include "update/Signature.h"
#include "update/Status.h"

void* (*gOpenUpdateInternet)() = httpOpenInternet;

static const char* const TEXT_NO_SERVER = "Sin conexion con el servidor de actualizaciones. Podes jugar igual.";
static const char* const TEXT_BAD_SIGNATURE = "La actualizacion no tiene una firma valida. No se instalo nada.";

enum { RELEASE_SIGNED, RELEASE_UNSIGNED, RELEASE_UNREACHABLE };

enum { DOCUMENT_URL_SIZE = 600 };

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
// of them. A signature that cannot be fetched for a network reason or a
// server error (any 5xx, retried or not) is no server; one the server does
// not have, or that does not match, is a release nobody signed.
static int checkReleaseSignature(void* internet, const char* manifest, uint32_t manifestLength) {
    uint32_t length = 0;
    Failure failure;
    char* signature = fetchDocumentRetrying(internet, "manifest.txt.sig", HTTP_SIGNATURE_LIMIT, &length, &failure);
    if (!signature) {
        logFailure("signature-failed", "manifest.txt.sig", &failure);
        int serverError = failure.reason == FAIL_HTTP_STATUS && failure.httpStatus >= 500;
        int unreachable = isPassingFailure(&failure) || failure.reason == FAIL_CONNECT || serverError;
        return unreachable ? RELEASE_UNREACHABLE : RELEASE_UNSIGNED;
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

// Downloads the jobs on up to 8 workers. If a worker thread cannot be
// created, this thread works the queue too, so no job is left unclaimed; the
// queue and the list are only released after every started worker has ended.
static int32_t downloadJobs(void* internet, const JobList* jobs) {
    OwnFiles ownFiles;
    collectOwnFiles(&ownFiles);
    DownloadQueue queue = {};
    queue.internet = internet;
    queue.jobs = jobs;
    queue.jobCount = jobs->count;
    queue.ownFiles = &ownFiles;
    queue.nextJob = -1;
    queue.lastReportTick = GetTickCount();
    ManifestEntry job;
    for (int32_t i = 0; i < jobs->count; ++i) {
        if (readJob(jobs, i, &job)) queue.totalBytes = addSaturating(queue.totalBytes, job.size);
    }

    setStatus("Descargando %d archivo(s)...", queue.jobCount);
    setProgress(0);

    HANDLE workers[MAX_DOWNLOAD_WORKERS];
    DWORD wanted = queue.jobCount < MAX_DOWNLOAD_WORKERS ? (DWORD)queue.jobCount : (DWORD)MAX_DOWNLOAD_WORKERS;
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
        int32_t jobFailures = downloadJobs(internet, &list);
        failed += jobFailures;
        updated = list.count - jobFailures;
        // Downloaded or not, these files are hashed afresh next time.
        ManifestEntry job;
        for (int32_t i = 0; i < list.count; ++i) {
            if (readJob(&list, i, &job)) dropCacheEntry(job.path);
        }
    }
    freeJobList(&list);
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
