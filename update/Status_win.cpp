#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "shell/Text.h"
#include "update/Status.h"

static SRWLOCK statusLock = SRWLOCK_INIT;
// 1 while a WM_STATUS_CHANGED is posted and the window has not yet taken it.
static volatile LONG gStatusPostPending = 0;

void (*gStatusObserver)(const char* text, int32_t progressPermille) = nullptr;

// The lock is held only for the copy, never while formatting.
static void publishWhole(const char* text /* STATUS_TEXT_SIZE bytes */) {
    AcquireSRWLockExclusive(&statusLock);
    memcpy(launcherState.statusText, text, STATUS_TEXT_SIZE);
    if (gStatusObserver) gStatusObserver(text, launcherState.progressPermille);
    ReleaseSRWLockExclusive(&statusLock);
}

void publishStatusText(const char* text) {
    char whole[STATUS_TEXT_SIZE] = {};
    formatText(whole, sizeof(whole), "%s", text);
    publishWhole(whole);
}

void copyStatusText(char* out) {
    AcquireSRWLockShared(&statusLock);
    memcpy(out, launcherState.statusText, STATUS_TEXT_SIZE);
    ReleaseSRWLockShared(&statusLock);
}

// The window repaints the whole state whenever it takes the message, so a
// change made while one is waiting needs no message of its own: posting
// costs more under Wine than a repaint shows.
void postStatusChanged() {
    if (InterlockedExchange(&gStatusPostPending, 1) != 0) return;
    if (!PostMessageA(launcherState.mainWindow, WM_STATUS_CHANGED, 0, 0)) InterlockedExchange(&gStatusPostPending, 0);
}

void takeStatusChanged() { InterlockedExchange(&gStatusPostPending, 0); }

void setStatus(const char* format, ...) {
    char text[STATUS_TEXT_SIZE] = {};
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);  // cut and terminated
    va_end(args);
    publishWhole(text);
    postStatusChanged();
}

void setProgress(int32_t permille) {
    launcherState.progressPermille = permille;
    postStatusChanged();
}
