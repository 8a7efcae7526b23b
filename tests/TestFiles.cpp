#include "tests/TestFiles.h"

#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

std::string makeTempDir() {
#ifdef _WIN32
    char base[MAX_PATH];
    GetTempPathA(sizeof(base), base);
    static unsigned counter = 0;
    for (;;) {
        char dir[MAX_PATH];
        snprintf(dir, sizeof(dir), "%sorvel-test-%lu-%u", base, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(dir, nullptr)) return dir;
    }
#else
    char dir[] = "/tmp/orvel-test-XXXXXX";
    if (!mkdtemp(dir)) abort();
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
