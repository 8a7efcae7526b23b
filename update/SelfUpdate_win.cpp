#include <windows.h>

#include "shell/LauncherState.h"
#include "shell/SingleInstance.h"
#include "shell/Text.h"
#include "update/ClientPath.h"
#include "update/Digest.h"
#include "update/Download.h"
#include "update/PartFile.h"
#include "update/Release.h"
#include "update/RunLog.h"
#include "update/SelfUpdate.h"
#include "update/Status.h"
#include "update/Throttle.h"

char gRunningLauncherSha256[DIGEST_TEXT_SIZE];
int32_t gLauncherUpdateTried;

static const char* const SWAP_RECORD = "OrvelLauncher.selfupdate";

// Held while the running executable is away from its name: from the rename
// that sets it aside to the install of the new one, or to its return.
static SRWLOCK gSwapLock = SRWLOCK_INIT;

// One self-update, shared by the run and, for the start, the window thread.
struct LauncherSwap {
    char exe[LOCAL_PATH_SIZE];  // the running launcher
    char old[LOCAL_PATH_SIZE];  // where it is set aside
    char oldName[LOCAL_PATH_SIZE];
    int32_t installTried;
    DWORD asideError;     // the rename that sets it aside failed
    DWORD backError;      // putting it back failed: the folder's launcher is at old
    volatile LONG asked;  // the run waits for the window thread: taken once, whatever else posts the message
    HANDLE answered;      // set by the window thread once it has tried the start
    int32_t started;
    DWORD processId;
    DWORD startError;     // CreateProcess failed
    int32_t endedAtOnce;  // it started and ended within SELF_UPDATE_START_CHECK_MS
    DWORD exitCode;
};

static LauncherSwap gSwap;

static int swapPaths(LauncherSwap* swap) {
    const LauncherState& s = launcherState;
    char part[LOCAL_PATH_SIZE];
    return formatText(swap->exe, sizeof(swap->exe), "%s\\%s", s.clientDir, s.ownExeName) &&
           formatText(swap->old, sizeof(swap->old), "%s%s", swap->exe, kSetAsideSuffix) &&
           formatText(swap->oldName, sizeof(swap->oldName), "%s%s", s.ownExeName, kSetAsideSuffix) &&
           formatText(part, sizeof(part), "%s.part", swap->exe);
}

// A rename that a scanner or another program holding the file refuses for a
// moment is tried again. Returns 0, or the Windows error of the last try.
static DWORD moveRetrying(const char* from, const char* to, DWORD flags) {
    DWORD started = GetTickCount();
    for (;;) {
        if (MoveFileExA(from, to, flags)) return 0;
        DWORD error = GetLastError();
        int held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!held || GetTickCount() - started >= SELF_UPDATE_MOVE_TRY_MS) return error;
        Sleep(SELF_UPDATE_MOVE_PAUSE_MS);
    }
}

// The running executable renamed back over whatever took its name, in one
// step, so that the name never stands empty.
static void putBack(LauncherSwap* swap) {
    AcquireSRWLockExclusive(&gSwapLock);
    swap->backError = moveRetrying(swap->old, swap->exe, MOVEFILE_REPLACE_EXISTING);
    ReleaseSRWLockExclusive(&gSwapLock);
}

// The download workers' install step for the launcher's part. Windows lets a
// running image be renamed but neither deleted nor overwritten: the running
// executable goes aside, the verified part moves onto the free name, and the
// executable comes back when that fails.
static int installLauncher(void* context, void* part, const char* target, Failure* failure) {
    LauncherSwap* swap = (LauncherSwap*)context;
    int installed = 0;
    AcquireSRWLockExclusive(&gSwapLock);
    swap->installTried = 1;
    swap->asideError = moveRetrying(swap->exe, swap->old, MOVEFILE_REPLACE_EXISTING);
    if (swap->asideError) {
        *failure = Failure{};
        failure->reason = FAIL_IN_USE;
        failure->systemError = swap->asideError;
        failure->retryAfterSeconds = -1;
    } else if (installPart(part, target, failure)) {
        installed = 1;
    } else {
        swap->backError = moveRetrying(swap->old, swap->exe, 0);
    }
    ReleaseSRWLockExclusive(&gSwapLock);
    return installed;
}

// One job, the build's store object, through the download workers' own path:
// resumed, tried again, from the mirrors in turn, within the speed limit. The
// bar follows it; the status line stays as it is.
static int downloadLauncher(const UpdateBases* bases, const AcceptedRelease* release, LauncherSwap* swap) {
    const ManifestDirectives& d = release->directives;
    char line[DIGEST_TEXT_SIZE + 32 + CLIENT_DIR_SIZE];
    formatText(line, sizeof(line), "%s %llu %s", d.launcherSha256, (unsigned long long)d.launcherSize,
               launcherState.ownExeName);
    uint32_t offset = 0;
    JobList jobs = {line, &offset, 1};
    OwnFiles none = {};  // the target is the launcher itself, named here, never by a manifest line
    DownloadQueue queue = {};
    queue.bases = bases->urls;
    queue.baseCount = bases->count;
    queue.firstBase = release->base;
    queue.objects = 1;
    queue.jobs = &jobs;
    queue.jobCount = 1;
    queue.ownFiles = &none;
    queue.nextJob = -1;
    queue.lastReportTick = GetTickCount();
    queue.totalBytes = d.launcherSize;
    Throttle throttle;
    queue.throttle = startThrottle(&throttle, launcherState.maxDownloadKBps);
    queue.install = installLauncher;
    queue.installContext = swap;
    downloadWorker(&queue);
    return queue.failedCount == 0;
}

// The worst case: the folder's launcher is at "<name>.old" now.
static void logNotPutBack(const LauncherSwap* swap) {
    if (!swap->backError) return;
    logSystemError("launcher-failed", swap->oldName, "restore", swap->backError,
                   "the running launcher could not be put back under its name");
}

static void logSwapFailure(const LauncherSwap* swap) {
    const char* name = launcherState.ownExeName;
    if (swap->asideError) {
        logSystemError("launcher-failed", name, "in-use", swap->asideError,
                       "the running launcher could not be renamed aside; it goes on");
    } else if (swap->installTried) {
        logEvent("launcher-failed", name, "in-use", "the new launcher could not take its name; this one goes on");
    } else {
        logEvent("launcher-failed", name, "download", "not downloaded (see the line above); this launcher goes on");
    }
    logNotPutBack(swap);
}

// The window thread starts the new launcher; this thread waits for its answer.
static int handOver(LauncherSwap* swap) {
    swap->answered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    InterlockedExchange(&swap->asked, swap->answered != nullptr);
    if (swap->answered && PostMessageA(launcherState.mainWindow, WM_LAUNCHER_REPLACED, 0, 0)) {
        // The window thread answers every message it takes; should it end
        // first, the process ends with it.
        WaitForSingleObject(swap->answered, INFINITE);
    } else {
        swap->startError = GetLastError();
        InterlockedExchange(&swap->asked, 0);
        putBack(swap);
    }
    if (swap->answered) CloseHandle(swap->answered);
    swap->answered = nullptr;
    const char* name = launcherState.ownExeName;
    if (swap->started) {
        char detail[64];
        formatText(detail, sizeof(detail), "process %lu; this launcher ends", (unsigned long)swap->processId);
        logEvent("launcher-started", name, "-", detail);
        return 1;
    }
    if (swap->endedAtOnce) {
        char detail[128];
        formatText(detail, sizeof(detail),
                   "the new launcher ended at once (exit code 0x%08lx); the running one is "
                   "back and goes on",
                   (unsigned long)swap->exitCode);
        logEvent("launcher-failed", name, "start", detail);
    } else {
        logSystemError("launcher-failed", name, "start", swap->startError,
                       "the new launcher did not start; the running one is back and goes on");
    }
    logNotPutBack(swap);
    return 0;
}

int updateLauncher(const UpdateBases* bases, const AcceptedRelease* release) {
    const ManifestDirectives& d = release->directives;
    const char* name = launcherState.ownExeName;
    if (!d.hasLauncher) return 0;
    LauncherSwap& swap = gSwap;
    swap = LauncherSwap{};
    if (!swapPaths(&swap)) {
        logEvent("launcher-skipped", name, "too-long", "the launcher's path with .old or .part does not fit");
        return 0;
    }
    if (!gRunningLauncherSha256[0]) fileSha256Hex(swap.exe, gRunningLauncherSha256);
    uint64_t last = 0;
    unsigned long error = 0;
    int64_t now = utcNowSeconds();
    // A record that cannot be read may hide a self-update a moment ago.
    if (readNumberFile(SWAP_RECORD, &last, &error) == NUMBER_FILE_UNREADABLE) last = now > 0 ? (uint64_t)now : 1;
    int verdict = selfUpdateVerdict(&d, gRunningLauncherSha256, gLauncherUpdateTried, last, now);
    char detail[RUN_LOG_DETAIL_SIZE];
    if (verdict == SELF_UPDATE_NOT_NAMED || verdict == SELF_UPDATE_CURRENT) return 0;
    if (verdict != SELF_UPDATE_GO) {
        char ago[48] = "none recorded";
        if (last) formatText(ago, sizeof(ago), "%lld s ago", (long long)(now - (int64_t)last));
        formatText(detail, sizeof(detail), "the release names %s, %s runs; the last self-update: %s", d.launcherSha256,
                   gRunningLauncherSha256[0] ? gRunningLauncherSha256 : "an unreadable launcher", ago);
        logEvent("launcher-skipped", name, selfUpdateVerdictCode(verdict), detail);
        return 0;
    }
    gLauncherUpdateTried = 1;
    // Kept before anything changes: whatever happens next, and whatever the
    // new launcher finds on the server, no launcher here replaces itself
    // again for ten minutes.
    if (now <= 0 || !writeNumberFile(SWAP_RECORD, (uint64_t)now)) {
        logEvent("launcher-skipped", name, "unrecorded", "the time of this self-update could not be kept");
        return 0;
    }
    setStatus("Actualizando el launcher...");
    setProgress(0);
    formatText(detail, sizeof(detail), "from %s to %s, %llu bytes", gRunningLauncherSha256, d.launcherSha256,
               (unsigned long long)d.launcherSize);
    logEvent("launcher-update", name, "-", detail);
    if (!downloadLauncher(bases, release, &swap)) {
        logSwapFailure(&swap);
        return 0;
    }
    return handOver(&swap);
}

void startNewLauncher() {
    LauncherSwap& swap = gSwap;
    if (!InterlockedExchange(&swap.asked, 0)) return;
    HWND window = launcherState.mainWindow;
    int visible = IsWindowVisible(window);
    // The hand-over (shell/SingleInstance_win.cpp): the new launcher must find
    // no window of the folder, and waits for the lock until this one ends.
    // The window is unnamed before the start and hidden once the new launcher
    // exists, which this one, still in front, lets take the foreground.
    unmarkFolderWindow(window);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    // SW_SHOWDEFAULT is what a launcher gets when its starter asked for nothing.
    if (launcherState.showCommand != SW_SHOWDEFAULT) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = (WORD)launcherState.showCommand;
    }
    PROCESS_INFORMATION process = {};
    // As the game is started: the path as the application name, the client
    // folder as working folder. A scanner reading the fresh file may hold it
    // for a moment.
    DWORD began = GetTickCount();
    int created;
    while (!(created = CreateProcessA(swap.exe, nullptr, nullptr, nullptr, FALSE, 0, nullptr, launcherState.clientDir,
                                      &startup, &process))) {
        swap.startError = GetLastError();
        int held = swap.startError == ERROR_SHARING_VIOLATION || swap.startError == ERROR_LOCK_VIOLATION;
        if (!held || GetTickCount() - began >= SELF_UPDATE_MOVE_TRY_MS) break;
        Sleep(SELF_UPDATE_MOVE_PAUSE_MS);
    }
    if (created) {
        AllowSetForegroundWindow(process.dwProcessId);
        ShowWindow(window, SW_HIDE);
        // A build that cannot run here (an import this Windows lacks, say) is
        // created and ends at once, where a launcher waits for this one's lock.
        if (WaitForSingleObject(process.hProcess, SELF_UPDATE_START_CHECK_MS) == WAIT_OBJECT_0) {
            swap.endedAtOnce = 1;
            GetExitCodeProcess(process.hProcess, &swap.exitCode);
        } else {
            swap.started = 1;
            swap.processId = process.dwProcessId;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (!swap.started) {
        putBack(&swap);
        if (visible) ShowWindow(window, SW_SHOWNA);
        markFolderWindow(window);
    }
    SetEvent(swap.answered);
}

void waitForLauncherSwap() {
    AcquireSRWLockExclusive(&gSwapLock);
    ReleaseSRWLockExclusive(&gSwapLock);
}

void removeOldLauncher(int logKept) {
    // Once this process has tried a self-update, "<name>.old" may be its own image.
    if (gLauncherUpdateTried) return;
    const LauncherState& s = launcherState;
    char old[LOCAL_PATH_SIZE], oldName[CLIENT_DIR_SIZE + 8];
    if (!formatText(oldName, sizeof(oldName), "%s%s", s.ownExeName, kSetAsideSuffix) ||
        !formatText(old, sizeof(old), "%s\\%s", s.clientDir, oldName)) {
        return;
    }
    SetFileAttributesA(old, FILE_ATTRIBUTE_NORMAL);  // a read-only executable stays so when renamed
    if (DeleteFileA(old)) {
        logEvent("launcher-old-removed", oldName, "-", "the launcher this one replaced");
        return;
    }
    DWORD error = GetLastError();
    if (!logKept || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    logSystemError("launcher-old-kept", oldName, "in-use", error, "removed at a later start");
}
