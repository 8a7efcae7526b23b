// Stands in for the game client: records how the launcher started it, by
// appending "cwd=<working folder>|cmdline=<command line>" to game-started.txt
// beside its own executable, then exits.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char record[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, record, sizeof(record));
    char* lastBackslash = strrchr(record, '\\');
    if (length == 0 || length >= sizeof(record) || !lastBackslash) return 1;
    strcpy(lastBackslash + 1, "game-started.txt");

    char workingDir[MAX_PATH];
    if (!GetCurrentDirectoryA(sizeof(workingDir), workingDir)) return 1;

    FILE* out = fopen(record, "ab");
    if (!out) return 1;
    fprintf(out, "cwd=%s|cmdline=%s\n", workingDir, GetCommandLineA());
    fclose(out);
    return 0;
}
