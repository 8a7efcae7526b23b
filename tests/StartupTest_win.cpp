// Start-up refusal when the window cannot be created, and the path folding
// that start-up loads. (A launcher folder too long to hold is checked by
// tests/startup_long_path.sh.)
#include <gtest/gtest.h>

#include <windows.h>

#include <tuple>

#include "shell/LauncherState.h"
#include "shell/Startup.h"
#include "update/ClientPath.h"

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

// Names compare as the file system of the code page compares them; a trail
// byte is never folded, and a capital in another script never stands in.
TEST(Startup, LoadsThePathFoldingOfTheCodePage) {
    const LCID english = 0x0409, japanese = 0x0411, russian = 0x0419;
    const std::tuple<LCID, const char*, const char*, bool> cases[] = {{english, "caf\xe9.dat", "CAF\xc9.DAT", true},
                                                                      {english, "\xff", "\x9f", true},
                                                                      {english, "\xb5", "M", false},
                                                                      {english, "\xe9", "e", false},
                                                                      {japanese, "\x82\x81.bin", "\x82\x60.BIN", true},
                                                                      {japanese, "\x83\x61", "\x83\x41", false},
                                                                      {japanese, "a\x83\x41", "A\x83\x41", true},
                                                                      {russian, "\xe0\xff", "\xc0\xdf", true}};
    for (const auto& [locale, a, b, same] : cases) {
        loadPathFolding(locale);
        EXPECT_EQ(same, (bool)sameClientPath(a, b)) << locale << " " << a;
    }
    loadPathFolding(LOCALE_SYSTEM_DEFAULT);
}

}  // namespace
