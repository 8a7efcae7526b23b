// The file URL and the local paths built from a manifest path, with the
// lengths the launcher passes: updateUrl < 512, clientDir and path < 260.
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
    size_t baseLength = base.size() - 1, dirLength = dir.size() - 1, pathLength = path.size() - 1;

    char url[FILE_URL_SIZE], local[LOCAL_PATH_SIZE], target[LOCAL_PATH_SIZE], part[LOCAL_PATH_SIZE];
    buildFileUrl(url, base.data(), path.data());
    FUZZ_CHECK(strnlen(url, sizeof(url)) < sizeof(url) && !memcmp(url, base.data(), baseLength));
    FUZZ_CHECK(!strchr(url + baseLength, '\\') && !strchr(url + baseLength, ' '));

    // Whole or not at all: a cut path could name another file.
    int fits = buildLocalPath(local, dir.data(), path.data());
    FUZZ_CHECK(fits == (dirLength + 1 + pathLength < LOCAL_PATH_SIZE));
    FUZZ_CHECK(!fits || (!memcmp(local, dir.data(), dirLength) && local[dirLength] == '\\' &&
                         !strcmp(local + dirLength + 1, path.data())));
    if (buildJobPaths(dir.data(), path.data(), target, part)) {
        FUZZ_CHECK(fits && !strcmp(target, local) && strnlen(part, sizeof(part)) < sizeof(part) &&
                   !strcmp(part + strlen(target), ".part"));
    }
    return 0;
}
