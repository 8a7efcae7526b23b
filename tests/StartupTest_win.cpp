// Start-up refusal when the window cannot be created. (A launcher folder
// too long to hold is checked by tests/startup_long_path.sh.)
#include <gtest/gtest.h>

#include <windows.h>

#include "shell/LauncherState.h"
#include "shell/Startup.h"

namespace {

// Other tests may run a launcher beside this one on the same desktop: only
// this process's windows count.
int ownLauncherWindows() {
    int count = 0;
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "OrvelLauncher", nullptr)) != nullptr) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId == GetCurrentProcessId()) ++count;
    }
    return count;
}

TEST(Startup, AWindowThatCannotBeCreatedEndsWithoutAnUpdateRun) {
    // The class name is taken, so the launcher's own registration fails.
    WNDCLASSA taken = {};
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = GetModuleHandleA(nullptr);
    taken.lpszClassName = "OrvelLauncher";
    ASSERT_NE(0, RegisterClassA(&taken));

    EXPECT_EQ(0, runLauncher(GetModuleHandleA(nullptr), SW_HIDE));
    EXPECT_EQ(nullptr, launcherState.mainWindow);
    EXPECT_EQ(0, launcherState.updateRunning);
    EXPECT_EQ(0, ownLauncherWindows());
}

}  // namespace
