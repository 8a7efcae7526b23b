// error_box CAPTION TEXT
// Waits for a message box with CAPTION, checks that its text is TEXT and
// that the process showing it has no launcher window open, then presses OK.
// Exits 0 when both held, 1 otherwise (saying why).
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HWND box = FindWindowA("#32770", argv[1]);
    for (int i = 0; !box && i < 300; ++i) {  // up to 30 s
        Sleep(100);
        box = FindWindowA("#32770", argv[1]);
    }
    if (!box) {
        printf("no message box captioned \"%s\"\n", argv[1]);
        return 1;
    }
    char text[512] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));  // the box's static text
    int good = 1;
    if (strcmp(text, argv[2]) != 0) {
        printf("text \"%s\"\nwanted \"%s\"\n", text, argv[2]);
        good = 0;
    }
    // Launchers of other tests may share the desktop: only the box's own process counts.
    DWORD boxProcess = 0;
    GetWindowThreadProcessId(box, &boxProcess);
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "OrvelLauncher", nullptr)) != nullptr) {
        DWORD windowProcess = 0;
        GetWindowThreadProcessId(window, &windowProcess);
        if (windowProcess == boxProcess) {
            printf("a launcher window is open\n");
            good = 0;
        }
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return good ? 0 : 1;
}
