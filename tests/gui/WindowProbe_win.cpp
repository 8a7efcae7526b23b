// What the Windows side of the prefix sees of top-level windows, for the GUI
// tests (X11 tools cannot tell a window's Windows class or a box's texts).
//   window_probe window CLASS TITLE
//       "rect L T R B iconic 0|1 visible 0|1", or "none"
//   window_probe boxes
//       one "box|<caption>|<static text>|..." line per visible dialog
//       (class "#32770"), then "boxes N"
#include <windows.h>

#include <stdio.h>
#include <string.h>

static BOOL CALLBACK collectStatic(HWND child, LPARAM line) {
    char className[64];
    if (!GetClassNameA(child, className, sizeof(className)) || lstrcmpiA(className, "Static") != 0) return TRUE;
    char text[512];
    GetWindowTextA(child, text, sizeof(text));
    // Icon statics have no text; only text counts.
    if (text[0]) {
        strncat((char*)line, "|", 4095 - strlen((char*)line));
        strncat((char*)line, text, 4095 - strlen((char*)line));
    }
    return TRUE;
}

static BOOL CALLBACK printBox(HWND window, LPARAM count) {
    char className[64];
    if (!GetClassNameA(window, className, sizeof(className)) || strcmp(className, "#32770") != 0) return TRUE;
    if (!IsWindowVisible(window)) return TRUE;
    char line[4096] = "box|";
    GetWindowTextA(window, line + 4, sizeof(line) - 4);
    EnumChildWindows(window, collectStatic, (LPARAM)line);
    printf("%s\n", line);
    ++*(int*)count;
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "window") == 0) {
        HWND window = FindWindowA(argv[2], argv[3]);
        if (!window) {
            printf("none\n");
            return 0;
        }
        RECT r;
        GetWindowRect(window, &r);
        printf("rect %ld %ld %ld %ld iconic %d visible %d\n", r.left, r.top, r.right, r.bottom,
               IsIconic(window) ? 1 : 0, IsWindowVisible(window) ? 1 : 0);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "boxes") == 0) {
        int count = 0;
        EnumWindows(printBox, (LPARAM)&count);
        printf("boxes %d\n", count);
        return 0;
    }
    fprintf(stderr, "usage: window_probe window CLASS TITLE | window_probe boxes\n");
    return 2;
}
