#include <windows.h>

#include <string.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"

// The client folder is the launcher's own folder.
static void findClientDir() {
    LauncherState& s = launcherState;
    GetModuleFileNameA(nullptr, s.clientDir, sizeof(s.clientDir));
    char* lastBackslash = strrchr(s.clientDir, '\\');
    if (lastBackslash) *lastBackslash = 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    findClientDir();
    readConfig();
    return 0;
}
