#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/RunLog.h"

// Workers log at the same moment; the lock keeps lines whole and in order.
static SRWLOCK gLogLock = SRWLOCK_INIT;
static HANDLE gLogFile = INVALID_HANDLE_VALUE;
static uint64_t gLogSize = 0;

static int logFileName(char* out, const char* suffix) {
    return formatText(out, MAX_PATH, "%s\\OrvelLauncher.log%s", launcherState.clientDir, suffix);
}

// Keeps the newest whole lines: written beside the log and moved over it, so
// a launcher closed meanwhile leaves the old log whole.
static void trimLog(const char* name) {
    char temporary[MAX_PATH];
    if (!logFileName(temporary, ".new")) return;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char* text = nullptr;
    LARGE_INTEGER size = {};
    DWORD bytesRead = 0, written = 0;
    HANDLE out = INVALID_HANDLE_VALUE;
    size_t start = 0;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= RUN_LOG_LIMIT) goto done;
    // Only the tail is read: the part before it goes anyway.
    size.QuadPart -= RUN_LOG_KEEP + 1;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    text = (char*)malloc(RUN_LOG_KEEP + 1);
    if (!text || !ReadFile(file, text, RUN_LOG_KEEP + 1, &bytesRead, nullptr)) goto done;
    start = logTrimOffset(text, bytesRead, RUN_LOG_KEEP);
    out = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) goto done;
    if (!WriteFile(out, text + start, (DWORD)(bytesRead - start), &written, nullptr) || written != bytesRead - start) {
        CloseHandle(out);
        out = INVALID_HANDLE_VALUE;
        DeleteFileA(temporary);
        goto done;
    }
    CloseHandle(out);
    out = INVALID_HANDLE_VALUE;
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    if (!MoveFileExA(temporary, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) DeleteFileA(temporary);

done:
    free(text);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

static void openLogFile(const char* name) {
    gLogFile = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
    LARGE_INTEGER size = {};
    gLogSize = gLogFile != INVALID_HANDLE_VALUE && GetFileSizeEx(gLogFile, &size) ? (uint64_t)size.QuadPart : 0;
}

void openRunLog() {
    char name[MAX_PATH];
    if (!logFileName(name, "")) return;
    AcquireSRWLockExclusive(&gLogLock);
    trimLog(name);
    openLogFile(name);
    ReleaseSRWLockExclusive(&gLogLock);
}

void closeRunLog() {
    AcquireSRWLockExclusive(&gLogLock);
    if (gLogFile != INVALID_HANDLE_VALUE) CloseHandle(gLogFile);
    gLogFile = INVALID_HANDLE_VALUE;
    ReleaseSRWLockExclusive(&gLogLock);
}

void logEvent(const char* event, const char* path, const char* reason, const char* detail) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    char timestamp[32], line[RUN_LOG_LINE_SIZE];
    formatText(timestamp, sizeof(timestamp), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond);
    size_t length = formatLogLine(line, timestamp, event, path, reason, detail);
    AcquireSRWLockExclusive(&gLogLock);
    if (gLogFile != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        // A log that cannot be written is no reason to stop.
        WriteFile(gLogFile, line, (DWORD)length, &written, nullptr);
        gLogSize += written;
        if (gLogSize > RUN_LOG_LIMIT + RUN_LOG_LIMIT / 4) {
            char name[MAX_PATH];
            CloseHandle(gLogFile);
            gLogFile = INVALID_HANDLE_VALUE;
            if (logFileName(name, "")) {
                trimLog(name);
                openLogFile(name);
            }
        }
    }
    ReleaseSRWLockExclusive(&gLogLock);
}

// The platform's own words for an error: WinINet's codes live in its module.
static void systemErrorText(DWORD error, char* out, DWORD size) {
    out[0] = 0;
    HMODULE wininet = error >= 12000 && error < 13000 ? GetModuleHandleA("wininet.dll") : nullptr;
    DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS | (wininet ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    DWORD length = FormatMessageA(flags, wininet, error, 0, out, size, nullptr);
    while (length > 0 && (out[length - 1] == '\n' || out[length - 1] == '\r' || out[length - 1] == ' ')) {
        out[--length] = 0;
    }
}

void logFailureFrom(const char* event, const char* path, const char* base, const Failure* failure) {
    char systemText[256] = "", detail[RUN_LOG_DETAIL_SIZE], withBase[RUN_LOG_DETAIL_SIZE];
    if (failure->systemError) systemErrorText(failure->systemError, systemText, sizeof(systemText));
    formatFailureDetail(detail, failure, systemText);
    if (base) formatText(withBase, sizeof(withBase), "%s (from %s)", detail, base);
    logEvent(event, path, failureCode(failure->reason), base ? withBase : detail);
}

void logFailure(const char* event, const char* path, const Failure* failure) {
    logFailureFrom(event, path, nullptr, failure);
}

void logSystemError(const char* event, const char* path, const char* reason, unsigned long error, const char* what) {
    char systemText[256], detail[RUN_LOG_DETAIL_SIZE];
    systemErrorText(error, systemText, sizeof(systemText));
    formatText(detail, sizeof(detail), "%s: error %lu: %s", what, error, systemText);
    logEvent(event, path, reason, detail);
}
