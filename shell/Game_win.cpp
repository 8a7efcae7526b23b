#include <windows.h>

#include "shell/Game.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"

void launchGame() {
    const LauncherState& s = launcherState;
    char program[260];
    formatText(program, sizeof(program), "%s\\main.exe", s.clientDir);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    // The program path goes in as the application name, so spaces in the
    // client folder need no quoting; the game gets no arguments.
    if (CreateProcessA(program, nullptr, nullptr, nullptr, FALSE, 0, nullptr, s.clientDir, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        PostQuitMessage(0);
        return;
    }
    MessageBoxA(s.mainWindow, "No se encontro main.exe. El launcher tiene que estar en la carpeta del cliente.",
                "Orvel", MB_OK | MB_ICONERROR);
}
