#include <windows.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/ClientPath.h"
#include "update/OwnFiles.h"

// Folders too (a link may name one): backup semantics opens them.
static int identityOf(const char* path, FileIdentity* out) {
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    int known = GetFileInformationByHandle(file, &info) ? 1 : 0;
    CloseHandle(file);
    if (known) *out = FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return known;
}

static void addOwnFile(OwnFiles* own, const char* path) {
    if (own->count < OWN_FILES_CAPACITY && identityOf(path, &own->files[own->count])) ++own->count;
}

void collectOwnFiles(OwnFiles* own) {
    own->count = 0;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    if (length > 0 && length < sizeof(path)) addOwnFile(own, path);
    for (int i = 0; i < kOwnFileNameCount; ++i) {
        if (formatText(path, sizeof(path), "%s\\%s", launcherState.clientDir, kOwnFileNames[i])) addOwnFile(own, path);
    }
    // Whatever the executable is called: its self-update's download and the executable set aside.
    const char* suffixes[] = {".part", kSetAsideSuffix};
    for (const char* suffix : suffixes) {
        if (formatText(path, sizeof(path), "%s\\%s%s", launcherState.clientDir, launcherState.ownExeName, suffix)) {
            addOwnFile(own, path);
        }
    }
}

int isOwnFile(const OwnFiles* own, const char* path) {
    FileIdentity identity;
    if (!identityOf(path, &identity)) return 0;
    for (int32_t i = 0; i < own->count; ++i) {
        const FileIdentity& f = own->files[i];
        if (f.volume == identity.volume && f.indexHigh == identity.indexHigh && f.indexLow == identity.indexLow) {
            return 1;
        }
    }
    return 0;
}
