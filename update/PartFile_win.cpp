#include <windows.h>

#include <string.h>

#include "update/Download.h"
#include "update/PartFile.h"

void (*gBeforeInstall)(const char* target, int attempt) = nullptr;

static int failWith(Failure* failure, int32_t reason, uint32_t systemError) {
    *failure = Failure{};
    failure->reason = reason;
    failure->systemError = systemError;
    failure->retryAfterSeconds = -1;
    return 0;
}

// No one else may write, rename or delete the part while it is open; the
// DELETE right lets it be renamed through this handle.
void* openPart(const char* path, Failure* failure) {
    // A part left by an earlier try or run never blocks a download, read-only or not.
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    HANDLE part = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (part == INVALID_HANDLE_VALUE) {
        failWith(failure, FAIL_WRITE, GetLastError());
        return nullptr;
    }
    return part;
}

int emptyPart(void* part, Failure* failure) {
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(part, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(part)) {
        return failWith(failure, FAIL_WRITE, GetLastError());
    }
    return 1;
}

// A move by name would open the part anew, which needs delete sharing from
// this handle, and then anyone could put another file under its name.
int installPart(void* part, const char* target, Failure* failure) {
    union {
        FILE_RENAME_INFO info;
        char bytes[sizeof(FILE_RENAME_INFO) + LOCAL_PATH_SIZE * sizeof(WCHAR)];
    } rename;
    memset(&rename, 0, sizeof(rename));
    // The wide name is what the "A" calls make of target in the code page in use.
    int length = MultiByteToWideChar(CP_ACP, 0, target, -1, rename.info.FileName, LOCAL_PATH_SIZE);
    if (length <= 1) return failWith(failure, FAIL_PATH_TOO_LONG, GetLastError());
    for (int i = 0; i < length; ++i) {
        if (rename.info.FileName[i] == L'/') rename.info.FileName[i] = L'\\';  // as every path call reads it
    }
    rename.info.ReplaceIfExists = TRUE;
    rename.info.FileNameLength = (DWORD)(length - 1) * sizeof(WCHAR);
    DWORD started = GetTickCount();
    for (int attempt = 0;; ++attempt) {
        if (gBeforeInstall) gBeforeInstall(target, attempt);
        SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);  // a read-only target can be replaced
        if (SetFileInformationByHandle(part, FileRenameInfo, &rename, sizeof(rename))) return 1;
        DWORD error = GetLastError();
        int held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!held || GetTickCount() - started >= PART_INSTALL_TRY_MS) return failWith(failure, FAIL_IN_USE, error);
        Sleep(PART_INSTALL_PAUSE_MS);
    }
}
