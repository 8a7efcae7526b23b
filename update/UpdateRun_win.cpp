#include "update/UpdateRun.h"

#include <stdlib.h>
#include <string.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "shell/Threads.h"
#include "update/Cache.h"
#include "update/Check.h"
#include "update/DiskSpace.h"
#include "update/Download.h"
#include "update/DownloadStatus.h"
#include "update/Http.h"
#include "update/OwnFiles.h"
#include "update/Release.h"
#include "update/RunLog.h"
#include "update/SelfUpdate.h"
#include "update/Status.h"
#include "update/Throttle.h"

static const char* const TEXT_NO_SERVER = "Sin conexion con el servidor de actualizaciones. Podes jugar igual.";
static const char* const TEXT_BAD_SIGNATURE = "La actualizacion no tiene una firma valida. No se instalo nada.";
static const char* const TEXT_OLDER = "El servidor ofrece una version anterior a la instalada. No se instalo nada.";
static const char* const TEXT_EXPIRED = "La actualizacion del servidor vencio. No se instalo nada.";

static DWORD endRun(WPARAM outcome, const char* reason, const char* detail) {
    if (outcome != UPDATE_DONE_REPLACED) removeOldLauncher(1);
    logEvent("run-end", nullptr, reason, detail);
    closeRunLog();
    PostMessageA(launcherState.mainWindow, WM_UPDATE_DONE, outcome, 0);
    return 0;
}

// A run that found no release to install: the client is as playable as
// before, unless nobody signed what the server offers.
static DWORD endWithoutRelease(int verdict) {
    switch (verdict) {
        case RELEASE_BAD_SIGNATURE: setStatus("%s", TEXT_BAD_SIGNATURE); return endRun(0, "bad-signature", nullptr);
        case RELEASE_OLDER: setStatus("%s", TEXT_OLDER); return endRun(1, "older-release", nullptr);
        case RELEASE_EXPIRED: setStatus("%s", TEXT_EXPIRED); return endRun(1, "expired", nullptr);
    }
    setStatus("%s", TEXT_NO_SERVER);
    return endRun(1, "no-server", nullptr);
}

static void fetchNews(const char* base) {
    uint32_t length = 0;
    Failure failure;
    char* news = fetchDocument(base, "news.txt", HTTP_NEWS_LIMIT, &length, &failure);
    if (!news) return;  // no news is not worth a word
    parseNews(news);
    free(news);
    postStatusChanged();
}

// Downloads the jobs on up to 8 workers. If a worker thread cannot be
// created, this thread works the queue too, so no job is left unclaimed; the
// queue and the list are only released after every started worker has ended.
static int32_t downloadJobs(const UpdateBases* bases, const AcceptedRelease* release, const JobList* jobs,
                            DiskUse* disk) {
    checkDiskSpace(jobs, disk);
    if (disk->full) return jobs->count;
    OwnFiles ownFiles;
    collectOwnFiles(&ownFiles);
    DownloadQueue queue = {};
    queue.bases = bases->urls;
    queue.baseCount = bases->count;
    queue.firstBase = release->base;
    queue.objects = release->directives.objects;
    queue.directives = &release->directives;
    queue.jobs = jobs;
    queue.jobCount = jobs->count;
    queue.ownFiles = &ownFiles;
    queue.nextJob = -1;
    queue.lastReportTick = GetTickCount();
    ManifestEntry job;
    for (int32_t i = 0; i < jobs->count; ++i) {
        if (readJob(jobs, i, &job)) queue.totalBytes = addSaturating(queue.totalBytes, job.size);
    }
    Throttle throttle;
    queue.throttle = startThrottle(&throttle, launcherState.maxDownloadKBps);
    DownloadStatus status;
    startDownloadStatus(&status, jobs->count, queue.totalBytes);
    queue.status = &status;

    setStatus("Descargando %d archivo(s)...", queue.jobCount);
    setProgress(0);

    // Files the client already holds under other paths are found by digest.
    indexCacheDigests();
    HANDLE workers[MAX_DOWNLOAD_WORKERS];
    DWORD wanted = queue.jobCount < MAX_DOWNLOAD_WORKERS ? (DWORD)queue.jobCount : (DWORD)MAX_DOWNLOAD_WORKERS;
    DWORD started = 0;
    for (DWORD i = 0; i < wanted; ++i) {
        HANDLE worker = gStartThread(downloadWorker, &queue);
        if (worker) workers[started++] = worker;
    }
    if (started < wanted) downloadWorker(&queue);
    while (started > 0 && WaitForMultipleObjects(started, workers, TRUE, DOWNLOAD_STATUS_REFRESH_MS) == WAIT_TIMEOUT) {
        refreshDownloadStatus(&status);
    }
    for (DWORD i = 0; i < started; ++i) CloseHandle(workers[i]);
    freeCacheDigestIndex();
    if (queue.diskFull) measureDiskStillNeeded(jobs, disk);
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
    removeOldLauncher(0);
    if (!isAcceptedUpdateUrl(s.updateUrl)) {
        setStatus("UpdateUrl debe empezar con https://");
        return endRun(0, "url-refused", s.updateUrl);
    }
    setStatus("Buscando actualizaciones...");
    UpdateBases bases;
    collectUpdateBases(&bases);
    AcceptedRelease release;
    int verdict = fetchRelease(&bases, &release);
    if (verdict != RELEASE_ACCEPTED) {
        return endWithoutRelease(verdict);
    }
    char* manifest = release.manifest;
    // The newest launcher checks the client's files.
    if (updateLauncher(&bases, &release)) {
        free(manifest);
        return endRun(UPDATE_DONE_REPLACED, "launcher-replaced", nullptr);
    }
    if (s.newsCount == 0) fetchNews(bases.urls[release.base]);
    loadCache();

    JobList list = {};
    DiskUse disk = {};
    int32_t failed = checkManifest(manifest, &list), updated = 0;
    if (list.count > 0) {
        // Downloaded or not, these files are hashed afresh next time; meanwhile
        // no file is copied from a path that is being replaced.
        ManifestEntry job;
        for (int32_t i = 0; i < list.count; ++i) {
            if (readJob(&list, i, &job)) dropCacheEntry(job.path);
        }
        int32_t jobFailures = downloadJobs(&bases, &release, &list, &disk);
        releaseDiskUse(&disk);
        failed += jobFailures;
        updated = list.count - jobFailures;
    }
    freeJobList(&list);
    saveCache();
    free(manifest);
    setProgress(1000);

    if (disk.full) {
        setStatus("Falta espacio en disco: libera %d MB y vuelve a intentar.", mebibytesToFree(disk.missing));
        return endRun(0, "disk-full", disk.detail);
    }
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
