#include <windows.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Cache.h"

static int cacheFileName(char* out, const char* suffix) {
    return formatText(out, MAX_PATH, "%s\\OrvelLauncher.cache%s", launcherState.clientDir, suffix);
}

void loadCache() {
    char fileName[MAX_PATH];
    if (cacheFileName(fileName, "")) loadCacheFile(fileName);
}

void saveCache() {
    char fileName[MAX_PATH], temporary[MAX_PATH];
    if (!cacheFileName(fileName, "") || !cacheFileName(temporary, ".new")) return;
    // A cache that could not be written whole leaves the previous one as it was.
    if (!saveCacheFile(temporary) ||
        !MoveFileExA(temporary, fileName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
    }
}
