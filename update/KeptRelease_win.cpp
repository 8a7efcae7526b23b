#include <windows.h>

#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Release.h"
#include "update/RunLog.h"

enum { KEPT_RELEASE_TEXT_SIZE = 32 };

static int keptReleaseFile(char* out, const char* suffix) {
    return formatText(out, MAX_PATH, "%s\\OrvelLauncher.release%s", launcherState.clientDir, suffix);
}

uint64_t readKeptRelease() {
    char name[MAX_PATH], text[KEPT_RELEASE_TEXT_SIZE];
    if (!keptReleaseFile(name, "")) return 0;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            formatText(text, sizeof(text), "Windows error %lu", (unsigned long)error);
            logEvent("release-unreadable", "OrvelLauncher.release", "unreadable", text);
        }
        return 0;
    }
    DWORD got = 0;
    BOOL read = ReadFile(file, text, sizeof(text), &got, nullptr);
    CloseHandle(file);
    uint64_t number = read ? parseReleaseNumber(text, got) : 0;
    if (number == 0) logEvent("release-unreadable", "OrvelLauncher.release", "damaged", "counted as no release kept");
    return number;
}

int keepRelease(uint64_t number) {
    char name[MAX_PATH], temporary[MAX_PATH], text[KEPT_RELEASE_TEXT_SIZE];
    if (!keptReleaseFile(name, "") || !keptReleaseFile(temporary, ".new")) return 0;
    formatText(text, sizeof(text), "%llu\r\n", (unsigned long long)number);
    DWORD length = (DWORD)strlen(text), written = 0;
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int whole = WriteFile(file, text, length, &written, nullptr) && written == length && FlushFileBuffers(file);
    CloseHandle(file);
    if (whole && MoveFileExA(temporary, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
    DeleteFileA(temporary);
    return 0;
}
