#include <windows.h>

#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Release.h"
#include "update/RunLog.h"

enum { NUMBER_TEXT_SIZE = 32 };

static int ownFilePath(char* out, const char* name, const char* suffix) {
    return formatText(out, MAX_PATH, "%s\\%s%s", launcherState.clientDir, name, suffix);
}

int readNumberFile(const char* name, uint64_t* number, unsigned long* error) {
    char path[MAX_PATH], text[NUMBER_TEXT_SIZE];
    *number = 0;
    *error = 0;
    if (!ownFilePath(path, name, "")) return NUMBER_FILE_MISSING;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_FILE_NOT_FOUND ? NUMBER_FILE_MISSING : NUMBER_FILE_UNREADABLE;
    }
    DWORD got = 0;
    BOOL read = ReadFile(file, text, sizeof(text), &got, nullptr);
    if (!read) *error = GetLastError();
    CloseHandle(file);
    if (!read) return NUMBER_FILE_UNREADABLE;
    *number = parseReleaseNumber(text, got);
    return *number ? NUMBER_FILE_READ : NUMBER_FILE_DAMAGED;
}

int writeNumberFile(const char* name, uint64_t number) {
    char path[MAX_PATH], temporary[MAX_PATH], text[NUMBER_TEXT_SIZE];
    if (!ownFilePath(path, name, "") || !ownFilePath(temporary, name, ".new")) return 0;
    formatText(text, sizeof(text), "%llu\r\n", (unsigned long long)number);
    DWORD length = (DWORD)strlen(text), written = 0;
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int whole = WriteFile(file, text, length, &written, nullptr) && written == length && FlushFileBuffers(file);
    CloseHandle(file);
    if (whole && MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
    DeleteFileA(temporary);
    return 0;
}

uint64_t readKeptRelease() {
    uint64_t number = 0;
    unsigned long error = 0;
    int read = readNumberFile("OrvelLauncher.release", &number, &error);
    if (read == NUMBER_FILE_UNREADABLE) {
        char text[NUMBER_TEXT_SIZE];
        formatText(text, sizeof(text), "Windows error %lu", error);
        logEvent("release-unreadable", "OrvelLauncher.release", "unreadable", text);
    } else if (read == NUMBER_FILE_DAMAGED) {
        logEvent("release-unreadable", "OrvelLauncher.release", "damaged", "counted as no release kept");
    }
    return number;
}

int keepRelease(uint64_t number) { return writeNumberFile("OrvelLauncher.release", number); }
