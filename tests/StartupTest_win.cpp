// Start-up refusal when the window cannot be created. (A launcher folder
// too long to hold is checked by tests/startup_long_path.sh.)
#include <gtest/gtest.h>

#include <windows.h>

#include "shell/LauncherState.h"
#include "shell/Startup.h"

namespace {

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
    EXPECT_EQ(nullptr, FindWindowA("OrvelLauncher", "Orvel"));
}

}  // namespace
