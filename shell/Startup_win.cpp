#include "shell/Startup.h"

#include <dwmapi.h>
#include <string.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/SingleInstance.h"
#include "shell/Text.h"
#include "ui/Layout.h"
#include "ui/Window.h"
#include "update/ClientPath.h"
#include "update/Http.h"
#include "update/SelfUpdate.h"
#include "update/Status.h"

enum {
    RESOURCE_ICON = 1,
    RESOURCE_BACKGROUND = 100,
    RESOURCE_TITLE_FONT = 101,
    CORNER_PREFERENCE_ATTRIBUTE = 33,  // DWMWA_WINDOW_CORNER_PREFERENCE
    CORNER_ROUND = 2                   // DWMWCP_ROUND
};

static const char* const WINDOW_CLASS = "OrvelLauncher";

// The client folder is the launcher's own folder. A path that does not fit
// would make every file land in a cut folder, and one without room for the
// launcher's own files beside it would leave them unwritten (the lock that
// keeps a second launcher out among them), so such a start is refused.
static int findClientDir() {
    LauncherState& s = launcherState;
    DWORD length = GetModuleFileNameA(nullptr, s.clientDir, sizeof(s.clientDir));
    char* lastBackslash = strrchr(s.clientDir, '\\');
    if (length == 0 || length >= sizeof(s.clientDir) || !lastBackslash) return 0;
    // The name as the folder holds it, whatever spelling started the launcher
    // (an 8.3 name, other letters): a self-update leaves the new build there.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(s.clientDir, &found);
    formatText(s.ownExeName, sizeof(s.ownExeName), "%s",
               search != INVALID_HANDLE_VALUE ? found.cFileName : lastBackslash + 1);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    *lastBackslash = 0;
    char ownFile[CLIENT_DIR_SIZE];
    for (int i = 0; i < kOwnFileNameCount; ++i) {
        if (!formatText(ownFile, sizeof(ownFile), "%s\\%s", s.clientDir, kOwnFileNames[i])) return 0;
    }
    return 1;
}

static void registerTitleFont(HINSTANCE instance) {
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(RESOURCE_TITLE_FONT), MAKEINTRESOURCEA(10));
    if (!resource) return;  // the font mapper picks a face instead
    HGLOBAL loaded = LoadResource(instance, resource);
    DWORD installed = 0;
    AddFontMemResourceEx(LockResource(loaded), SizeofResource(instance, resource), nullptr, &installed);
}

static HFONT createFont(int height, int weight, const char* face) {
    return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

static void createFonts() {
    LauncherState& s = launcherState;
    s.fontTitle = createFont(-22, FW_BOLD, "Cinzel");
    s.fontTitleSmall = createFont(-13, FW_BOLD, "Cinzel");
    s.fontText = createFont(-14, FW_NORMAL, "Segoe UI");
    s.fontTextSmall = createFont(-11, FW_SEMIBOLD, "Segoe UI");
}

static HWND createWindow(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DROPSHADOW;
    windowClass.cbWndExtra = FOLDER_WINDOW_EXTRA_BYTES;
    windowClass.lpfnWndProc = launcherWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(RESOURCE_ICON));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassA(&windowClass)) return nullptr;

    int x = (GetSystemMetrics(SM_CXSCREEN) - CLIENT_WIDTH) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - CLIENT_HEIGHT) / 2;
    return CreateWindowExA(WS_EX_APPWINDOW, WINDOW_CLASS, "Orvel", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, x, y,
                           CLIENT_WIDTH, CLIENT_HEIGHT, nullptr, nullptr, instance, nullptr);
}

int runLauncher(HINSTANCE instance, int showCommand) {
    LauncherState& s = launcherState;
    if (!findClientDir()) {
        MessageBoxA(nullptr,
                    "La ruta de la carpeta del launcher es demasiado larga. Move la carpeta del cliente a una "
                    "ruta mas corta.",
                    "Orvel", MB_OK | MB_ICONERROR);
        return 0;
    }
    // Another launcher runs in this folder: its window is in front now, and a
    // second run would spoil the first one's files.
    if (!claimClientFolder(s.clientDir, WINDOW_CLASS)) return 0;
    s.showCommand = showCommand;
    initClientPathRules();
    readConfig();
    httpInit();
    registerTitleFont(instance);
    createFonts();
    s.backgroundBitmap =
        (HBITMAP)LoadImageA(instance, MAKEINTRESOURCEA(RESOURCE_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    s.mainWindow = createWindow(instance);
    // Without a window nobody could see or end a run: quit instead.
    if (!s.mainWindow) return 0;

    DWORD corners = CORNER_ROUND;  // ignored where the system does not know it
    DwmSetWindowAttribute(s.mainWindow, CORNER_PREFERENCE_ATTRIBUTE, &corners, sizeof(corners));
    publishStatusText("Iniciando...");
    ShowWindow(s.mainWindow, showCommand);
    markFolderWindow(s.mainWindow);  // shown first, so that no later launcher restores a window not yet shown
    UpdateWindow(s.mainWindow);      // on screen before any network access
    startUpdateRun(0);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    waitForLauncherSwap();
    return 0;
}
