#include "tests/TestFiles.h"

#include <stdio.h>
#include <stdlib.h>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
static void removeTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    while (search != INVALID_HANDLE_VALUE) {
        std::string name = found.cFileName, path = dir + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != "." && name != "..") removeTree(path);
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // tests leave read-only files too
            DeleteFileA(path.c_str());
        }
        if (!FindNextFileA(search, &found)) break;
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    RemoveDirectoryA(dir.c_str());
}
#else
static int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

static void removeTree(const std::string& dir) {
    nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}
#endif

// Every folder made here is removed when the test program ends, whatever the tests' outcome.
static std::vector<std::string>& madeDirs() {
    static std::vector<std::string> dirs;
    static bool removalRegistered = false;
    if (!removalRegistered) {
        removalRegistered = true;
        atexit([] {
            for (const std::string& dir : madeDirs()) removeTree(dir);
        });
    }
    return dirs;
}

std::string makeTempDir() {
#ifdef _WIN32
    char base[MAX_PATH];
    GetTempPathA(sizeof(base), base);
    static unsigned counter = 0;
    for (;;) {
        char dir[MAX_PATH];
        snprintf(dir, sizeof(dir), "%sorvel-test-%lu-%u", base, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(dir, nullptr)) {
            madeDirs().push_back(dir);
            return dir;
        }
    }
#else
    char dir[] = "/tmp/orvel-test-XXXXXX";
    if (!mkdtemp(dir)) abort();
    madeDirs().push_back(dir);
    return dir;
#endif
}

std::string joinPath(const std::string& dir, const std::string& name) {
#ifdef _WIN32
    return dir + "\\" + name;
#else
    return dir + "/" + name;
#endif
}

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) abort();
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

std::string readFile(const std::string& path) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char block[65536];
    size_t n;
    while ((n = fread(block, 1, sizeof(block), file)) > 0) bytes.append(block, n);
    fclose(file);
    return bytes;
}

bool fileExists(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return false;
    fclose(file);
    return true;
}
