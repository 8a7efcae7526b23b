// The file URL and the local paths built from a manifest path, with the
// lengths the launcher passes: updateUrl < 512, clientDir and path < 260.
#include <ctype.h>

#include <string>

#include "shell/LauncherState.h"
#include "tests/fuzz/Fuzz.h"
#include "update/Download.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* again = data;
    size_t againSize = size;
    // The first string serves as the update URL and as the client folder.
    std::vector<char> base = nextString(&data, &size, CONFIG_URL_SIZE - 1);
    std::vector<char> dir = nextString(&again, &againSize, CLIENT_DIR_SIZE - 1);
    std::vector<char> path = nextString(&data, &size, RELATIVE_PATH_SIZE - 1);
    size_t dirLength = dir.size() - 1, pathLength = path.size() - 1;

    char url[FILE_URL_SIZE], local[LOCAL_PATH_SIZE], target[LOCAL_PATH_SIZE], part[LOCAL_PATH_SIZE];
    // The URL is whole or none: separators as "/", every byte but the
    // unreserved ones as an upper-case escape.
    std::string expected = base.data();
    for (const char* p = path.data(); *p; ++p) {
        char escape[4];
        snprintf(escape, sizeof(escape), "%%%02X", (unsigned char)*p);
        int plain = isalnum((unsigned char)*p) || strchr("-._~", *p);
        expected += *p == '\\' || *p == '/' ? std::string("/") : plain ? std::string(1, *p) : escape;
    }
    int built = buildFileUrl(url, base.data(), path.data());
    FUZZ_CHECK(built ? expected.size() < sizeof(url) && url == expected : expected.size() >= sizeof(url) && !url[0]);

    // Whole or not at all: a cut path could name another file.
    int fits = buildLocalPath(local, dir.data(), path.data());
    FUZZ_CHECK(fits == (dirLength + 1 + pathLength < LOCAL_PATH_SIZE));
    FUZZ_CHECK(!fits || (!memcmp(local, dir.data(), dirLength) && local[dirLength] == '\\' &&
                         !strcmp(local + dirLength + 1, path.data())));
    // A job's folder is one the ANSI CreateDirectoryA can make.
    if (buildJobPaths(dir.data(), path.data(), target, part)) {
        FUZZ_CHECK(fits && !strcmp(target, local) && strnlen(part, sizeof(part)) < sizeof(part) &&
                   !strcmp(part + strlen(target), ".part"));
        size_t folder = 0;
        for (size_t i = dirLength + 1; target[i]; ++i) folder = target[i] == '\\' || target[i] == '/' ? i : folder;
        FUZZ_CHECK(folder <= 247);
    }
    return 0;
}
