// One manifest line through both readers, and the path rule on what they read.
#include "shell/LauncherState.h"
#include "tests/fuzz/Fuzz.h"
#include "update/ClientPath.h"
#include "update/Documents.h"

// The same path as Windows reads it: A-Z case and both separators swapped.
static std::vector<char> swappedSpelling(const char* path) {
    std::vector<char> swapped(path, path + strlen(path) + 1);
    for (char& c : swapped) {
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c ^= 0x20;
        c = c == '/' ? '\\' : c == '\\' ? '/' : c;
    }
    return swapped;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    strcpy(launcherState.ownExeName, "Game Launcher.exe");
    std::vector<char> line = nextString(&data, &size, SIZE_MAX);
    ManifestEntry fields, entry;
    int read = parseManifestFields(line.data(), &fields);
    int accepted = parseManifestLine(line.data(), &entry);
    FUZZ_CHECK(read || !accepted);
    if (!read) return 0;
    size_t pathLength = strnlen(fields.path, sizeof(fields.path));
    FUZZ_CHECK(strnlen(fields.sha256, sizeof(fields.sha256)) == 64 && pathLength > 0 &&
               pathLength < RELATIVE_PATH_SIZE);
    FUZZ_CHECK(!strpbrk(fields.path, "\r\n"));

    // Windows reads the swapped spelling as the same file: same decision, same hash.
    int refusal = clientPathRefusal(fields.path, launcherState.ownExeName);
    std::vector<char> swapped = swappedSpelling(fields.path);
    FUZZ_CHECK(sameClientPath(fields.path, swapped.data()));
    FUZZ_CHECK(clientPathHash(fields.path) == clientPathHash(swapped.data()));
    FUZZ_CHECK(clientPathRefusal(swapped.data(), launcherState.ownExeName) == refusal);
    if (!accepted) return 0;
    FUZZ_CHECK(!strchr(fields.path, ':') && !strstr(fields.path, "..") && !sameClientPath(fields.path, "launcher.ini"));
    FUZZ_CHECK(!sameClientPath(fields.path, launcherState.ownExeName));
    return 0;
}
