// One manifest line through both readers, and the path rule on what they read.
#include "shell/LauncherState.h"
#include "tests/fuzz/Fuzz.h"
#include "update/ClientPath.h"
#include "update/Documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    strcpy(launcherState.ownExeName, "Game Launcher.exe");
    std::vector<char> line = nextString(&data, &size, SIZE_MAX);
    ManifestEntry entry;
    int accepted = parseManifestLine(line.data(), &entry);
    if (!parseManifestFields(line.data(), &entry)) return 0;
    const char* path = entry.path;
    FUZZ_CHECK(strnlen(entry.sha256, DIGEST_TEXT_SIZE) == 64 &&
               strnlen(path, RELATIVE_PATH_SIZE) < RELATIVE_PATH_SIZE && path[0] && !strpbrk(path, "\r\n"));

    // Windows reads A-Z in either case and both separators alike: same file, same decision.
    std::vector<char> swapped(path, path + strlen(path) + 1);
    for (char& c : swapped) {
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c ^= 0x20;
        c = c == '/' ? '\\' : c == '\\' ? '/' : c;
    }
    FUZZ_CHECK(sameClientPath(path, swapped.data()) && clientPathHash(path) == clientPathHash(swapped.data()));
    const char* exe = launcherState.ownExeName;
    FUZZ_CHECK(clientPathRefusal(swapped.data(), exe) == clientPathRefusal(path, exe));
    // An accepted path stays in the client folder and names none of the launcher's files.
    if (accepted) {
        FUZZ_CHECK(!strchr(path, ':') && !strstr(path, "..") && !sameClientPath(path, "launcher.ini") &&
                   !sameClientPath(path, exe));
    }
    return 0;
}
