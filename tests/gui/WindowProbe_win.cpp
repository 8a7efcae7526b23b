// What the Windows side of the prefix sees of top-level windows, for the GUI
// tests (X11 tools cannot tell a window's Windows class or a box's texts).
//   window_probe window CLASS TITLE
//       one "rect L T R B iconic 0|1 foreground 0|1 program PATH" line per
//       such window, topmost first (PATH: its process's executable), or "none"
//   window_probe restore CLASS TITLE
//       restores the window from its minimised state
//   window_probe close CLASS TITLE
//       asks every such window to close (launchers that a launcher started)
//   window_probe short PATH
//       the 8.3 short spelling of PATH
//   window_probe run PROGRAM
//       starts PROGRAM as Wine would have started it, prints "started PID",
//       waits for it to end and prints "exit CODE", the code Windows keeps.
//       Wine kills a program's Unix process that is slow to leave after its
//       last thread ended: its Unix status alone would read as a crash.
//   window_probe end PID
//       ends that process at once (a launcher whose starter the test killed)
//   window_probe boxes
//       one "box|<caption>|<static text>|..." line per visible dialog (class "#32770")
//   window_probe ink TEXT...
//       one line per text: a '#' for each pixel column that the launcher's
//       status font inks when it draws the text at x 0, else '.'; up to the last ink
//   window_probe status-lines
//       the widest download status line the launcher makes for this font at
//       up to 7-digit counts (a 128 MiB manifest lists under 2 million files),
//       then the one for 12 / 40 files, 350 / 1200 MB, 5.2 MB/s, 3 minutes left
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "shell/LauncherState.h"
#include "update/DownloadStatus.h"

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

static BOOL CALLBACK printBox(HWND window, LPARAM) {
    char className[64];
    if (!GetClassNameA(window, className, sizeof(className)) || strcmp(className, "#32770") != 0) return TRUE;
    if (!IsWindowVisible(window)) return TRUE;
    char line[4096] = "box|";
    GetWindowTextA(window, line + 4, sizeof(line) - 4);
    EnumChildWindows(window, collectStatic, (LPARAM)line);
    printf("%s\n", line);
    return TRUE;
}

static void printWindow(HWND window) {
    char program[MAX_PATH] = "?";
    DWORD processId = 0, size = sizeof(program);
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process && !QueryFullProcessImageNameA(process, 0, program, &size)) strcpy(program, "?");
    if (process) CloseHandle(process);
    RECT r;
    GetWindowRect(window, &r);
    printf("rect %ld %ld %ld %ld iconic %d foreground %d program %s\n", r.left, r.top, r.right, r.bottom,
           IsIconic(window) ? 1 : 0, GetForegroundWindow() == window ? 1 : 0, program);
}

static HFONT statusFont() {
    return CreateFontA(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Segoe UI");
}

// Every shape of count, speed (99.9 KB/s, 1023 KB/s, 99.9 MB/s, 9999 MB/s)
// and time left (menos de 1 min, 59 min, 99 h 59 min) with the widest digits.
static void printStatusLines() {
    HFONT font = statusFont();
    StatusWidths widths;
    measureStatusFont(font, &widths);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ kept = SelectObject(dc, font);
    char text[STATUS_TEXT_SIZE], widest[STATUS_TEXT_SIZE] = "";
    const int64_t nines[] = {9, 99, 999, 9999, 99999, 999999, 9999999},
                  speeds[] = {-1, 102348, 1048063, 104805171, 10484711424ll};
    const int64_t times[] = {-1, 30, 3540, 359940};
    for (int i = 0, widestWidth = -1; i < 7 * 7 * 5 * 4; ++i) {
        int64_t files = nines[i % 7], mebibytes = nines[i / 7 % 7];
        DownloadFigures f = {(int32_t)files - 1,        (int32_t)files,     (uint64_t)(mebibytes - 1) << 20,
                             (uint64_t)mebibytes << 20, speeds[i / 49 % 5], times[i / 245]};
        formatDownloadStatus(text, sizeof(text), &f, &widths, downloadStatusWidthLimit());
        SIZE size = {};
        GetTextExtentPoint32A(dc, text, (int)strlen(text), &size);
        if (size.cx <= widestWidth) continue;
        widestWidth = size.cx;
        strcpy(widest, text);
    }
    DownloadFigures typical = {12, 40, 350ull << 20, 1200ull << 20, 5452595, 180};
    formatDownloadStatus(text, sizeof(text), &typical, &widths, downloadStatusWidthLimit());
    printf("%s\n%s\n", widest, text);
    SelectObject(dc, kept);
    DeleteDC(dc);
    DeleteObject(font);
}

// Drawn as the launcher draws its status line: the same font, slate on the dark band.
static void printInk(const char* text) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 1000;
    info.bmiHeader.biHeight = -40;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    DWORD* pixels = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, (void**)&pixels, nullptr, 0);
    HFONT font = statusFont();
    HGDIOBJ keptBitmap = SelectObject(dc, bitmap);
    HGDIOBJ keptFont = SelectObject(dc, font);
    RECT all = {0, 0, 1000, 40};
    HBRUSH band = CreateSolidBrush(RGB(10, 10, 10));
    FillRect(dc, &all, band);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0xAE, 0xBB, 0xC5));
    DrawTextA(dc, text, -1, &all, DT_SINGLELINE | DT_NOPREFIX | DT_LEFT | DT_TOP);
    GdiFlush();
    char columns[1001] = {};
    int last = -1;
    for (int x = 0; pixels && x < 1000; ++x) {
        columns[x] = '.';
        for (int y = 0; y < 40; ++y) {
            // Stands out from the band (10) by more than 45 in a channel, as the tests judge the screen.
            DWORD p = pixels[y * 1000 + x];
            if ((p & 0xFF) > 55 || ((p >> 8) & 0xFF) > 55 || ((p >> 16) & 0xFF) > 55) {
                columns[x] = '#';
                last = x;
                break;
            }
        }
    }
    columns[last + 1] = 0;
    printf("%s\n", columns);
    SelectObject(dc, keptFont);
    SelectObject(dc, keptBitmap);
    DeleteObject(band);
    DeleteObject(font);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "window") == 0) {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, argv[2], argv[3])) != nullptr) printWindow(window);
        if (!FindWindowA(argv[2], argv[3])) printf("none\n");
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "short") == 0) {
        char path[MAX_PATH];
        DWORD length = GetShortPathNameA(argv[2], path, sizeof(path));
        if (length == 0 || length >= sizeof(path)) return 1;
        printf("%s\n", path);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "run") == 0) {
        STARTUPINFOA startup;
        GetStartupInfoA(&startup);  // the show command Wine gave this program
        startup.dwFlags &= ~STARTF_USESTDHANDLES;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(argv[2], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            fprintf(stderr, "window_probe run: error %lu\n", GetLastError());
            return 1;
        }
        printf("started %lu\n", process.dwProcessId);
        fflush(stdout);
        DWORD code = STILL_ACTIVE;
        WaitForSingleObject(process.hProcess, INFINITE);
        int known = GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (!known) return 1;
        printf("exit %lu\n", code);
        fflush(stdout);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "end") == 0) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, strtoul(argv[2], nullptr, 10));
        if (!process) return GetLastError() == ERROR_INVALID_PARAMETER ? 0 : 1;  // already gone
        int ended = TerminateProcess(process, 1);
        CloseHandle(process);
        return ended ? 0 : 1;
    }
    if (argc == 4 && strcmp(argv[1], "restore") == 0) {
        HWND window = FindWindowA(argv[2], argv[3]);
        return window && ShowWindowAsync(window, SW_RESTORE) ? 0 : 1;
    }
    if (argc == 4 && strcmp(argv[1], "close") == 0) {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, argv[2], argv[3])) != nullptr) {
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "ink") == 0) {
        for (int i = 2; i < argc; ++i) printInk(argv[i]);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "status-lines") == 0) {
        printStatusLines();
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "boxes") == 0) {
        EnumWindows(printBox, 0);
        return 0;
    }
    fprintf(stderr,
            "usage: window_probe window|restore|close CLASS TITLE | short PATH | run PROGRAM | end PID | boxes | "
            "ink TEXT... | status-lines\n");
    return 2;
}
