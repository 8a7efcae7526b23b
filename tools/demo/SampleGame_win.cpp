// The sample game of the demo: a window that shows the folder it was started
// from, and the same in sample-game.txt beside it, so the demo can prove that
// the launcher started it from the client folder.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static char startedFrom[MAX_PATH];

static LRESULT CALLBACK gameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT all;
            GetClientRect(window, &all);
            HBRUSH background = CreateSolidBrush(RGB(0x14, 0x18, 0x22));
            FillRect(dc, &all, background);
            DeleteObject(background);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(0xEA, 0xC7, 0x84));
            RECT title = {24, 24, all.right - 24, 60};
            DrawTextA(dc, "Orvel - juego de ejemplo", -1, &title, DT_SINGLELINE | DT_NOPREFIX);
            SetTextColor(dc, RGB(0xF0, 0xF3, 0xF5));
            RECT line = {24, 70, all.right - 24, all.bottom - 24};
            char text[MAX_PATH + 64];
            snprintf(text, sizeof(text), "Iniciado desde la carpeta del cliente:\n%s", startedFrom);
            DrawTextA(dc, text, -1, &line, DT_NOPREFIX | DT_WORDBREAK);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static void recordStart() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof(path));
    char* slash = strrchr(path, '\\');
    if (slash) strcpy(slash + 1, "sample-game.txt");
    FILE* file = fopen(path, "a");
    if (!file) return;
    fprintf(file, "cwd=%s\ncommand=%s\n", startedFrom, GetCommandLineA());
    fclose(file);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    GetCurrentDirectoryA(sizeof(startedFrom), startedFrom);
    recordStart();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = gameWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "OrvelSampleGame";
    RegisterClassA(&windowClass);
    int x = (GetSystemMetrics(SM_CXSCREEN) - 560) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - 220) / 2;
    HWND window = CreateWindowExA(0, "OrvelSampleGame", "Orvel - juego de ejemplo", WS_OVERLAPPEDWINDOW, x, y, 560, 220,
                                  nullptr, nullptr, instance, nullptr);
    ShowWindow(window, showCommand);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
