#include "update/DownloadStatus.h"

#include "shell/LauncherState.h"
#include "ui/Layout.h"
#include "update/Status.h"

static INIT_ONCE gFontMeasured = INIT_ONCE_STATIC_INIT;
static StatusWidths gStatusWidths;

void measureStatusFont(HFONT font, StatusWidths* widths) {
    *widths = StatusWidths{};
    HDC dc = font ? CreateCompatibleDC(nullptr) : nullptr;
    if (!dc) return;
    HGDIOBJ kept = SelectObject(dc, font);
    INT advance[95];
    if (GetCharWidth32A(dc, 32, 126, advance)) {
        for (int i = 0; i < 95; ++i) widths->advance[32 + i] = (uint8_t)(advance[i] < 255 ? advance[i] : 255);
    }
    SelectObject(dc, kept);
    DeleteDC(dc);
}

static BOOL CALLBACK measureWindowFont(INIT_ONCE*, void*, void**) {
    measureStatusFont((HFONT)launcherState.fontText, &gStatusWidths);
    return TRUE;
}

// Drawn glyphs reach a few pixels past their advance widths: a margin keeps
// the line's ink clear of the percentage.
int32_t downloadStatusWidthLimit() { return RECT_PERCENT.left - RECT_STATUS.left - 6; }

void startDownloadStatus(DownloadStatus* status, int32_t jobCount, uint64_t totalBytes) {
    *status = DownloadStatus{};
    InitializeSRWLock(&status->lock);
    status->jobCount = jobCount;
    status->totalBytes = totalBytes;
    InitOnceExecuteOnce(&gFontMeasured, measureWindowFont, nullptr, nullptr);
}

void countNetworkBytes(DownloadStatus* status, uint32_t bytes) {
    if (!status) return;
    __atomic_add_fetch(&status->networkBytes, bytes, __ATOMIC_SEQ_CST);
}

// Under the lock, so that samples and texts go out in the order taken.
static void showLocked(DownloadStatus* status) {
    speedSample(&status->meter, GetTickCount(), __atomic_load_n(&status->networkBytes, __ATOMIC_SEQ_CST));
    DownloadFigures figures = {status->finished, status->jobCount, status->doneBytes, status->totalBytes, -1, -1};
    figures.speed = currentSpeed(&status->meter);
    uint64_t done = status->doneBytes < status->totalBytes ? status->doneBytes : status->totalBytes;
    figures.secondsLeft = secondsLeft(&status->meter, status->totalBytes - done);
    char text[STATUS_TEXT_SIZE];
    formatDownloadStatus(text, sizeof(text), &figures, &gStatusWidths, downloadStatusWidthLimit());
    setStatus("%s", text);
}

void showDownloadStatus(DownloadStatus* status, uint64_t doneBytes, int32_t finished) {
    if (!status) return;
    AcquireSRWLockExclusive(&status->lock);
    status->doneBytes = doneBytes;
    status->finished = finished;
    showLocked(status);
    ReleaseSRWLockExclusive(&status->lock);
}

void refreshDownloadStatus(DownloadStatus* status) {
    AcquireSRWLockExclusive(&status->lock);
    // Not before the first figures, not after the last, not over fresh ones.
    int stale = status->meter.count > 0 && status->finished < status->jobCount &&
                GetTickCount() - status->meter.latestTick >= DOWNLOAD_STATUS_REFRESH_MS;
    if (stale) showLocked(status);
    ReleaseSRWLockExclusive(&status->lock);
}
