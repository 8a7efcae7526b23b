// Stands in for the game client: records how the launcher started it, by
// appending "cwd=<working folder>|exe=<own path>|cmdline=<command line>" to
// game-started.txt beside its own executable, then exits.
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
    fprintf(out, "cwd=%s|exe=%s|cmdline=%s\n", workingDir, program, GetCommandLineA());
    fclose(out);
    return 0;
}
