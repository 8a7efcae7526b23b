#include <windows.h>

#include "shell/LauncherState.h"
#include "shell/Threads.h"
#include "update/UpdateRun.h"

void startUpdateRun(int fullVerify) {
    LauncherState& s = launcherState;
    if (s.updateRunning) return;
    s.updateRunning = 1;
    s.readyToPlay = 0;
    s.fullVerify = fullVerify;
    s.progressPermille = 0;
    InvalidateRect(s.mainWindow, nullptr, FALSE);

    HANDLE thread = gStartThread(updateRun, nullptr);
    if (!thread) {
        // No run will ever post WM_UPDATE_DONE: go back to the finished state
        // so that the game can still be started and repair tried again.
        s.updateRunning = 0;
        s.readyToPlay = 1;
        InvalidateRect(s.mainWindow, nullptr, FALSE);
        return;
    }
    CloseHandle(thread);  // nobody waits for a run; it ends by posting WM_UPDATE_DONE
}
