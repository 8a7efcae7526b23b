// Stands in for the game client (and for a new launcher build): records how
// it was started, by appending "cwd=<working folder>|exe=<own path>|show=<the
// show command asked for, or -1>|cmdline=<command line>" to game-started.txt
// beside its own executable, then exits.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof(program));
    if (length == 0 || length >= sizeof(program) || !strrchr(program, '\\')) return 1;
    char record[MAX_PATH + 20];
    strcpy(record, program);
    strcpy(strrchr(record, '\\') + 1, "game-started.txt");

    char workingDir[MAX_PATH];
    if (!GetCurrentDirectoryA(sizeof(workingDir), workingDir)) return 1;

    FILE* out = fopen(record, "ab");
    if (!out) return 1;
    STARTUPINFOA startup = {};
    GetStartupInfoA(&startup);
    int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : -1;
    fprintf(out, "cwd=%s|exe=%s|show=%d|cmdline=%s\n", workingDir, program, show, GetCommandLineA());
    fclose(out);
    return 0;
}
