// One manifest line through both readers, and the path rule on what they read,
// under a single-byte folding (Latin letters above 127) or a double-byte one.
#include <string>

#include "shell/LauncherState.h"
#include "tests/fuzz/Fuzz.h"
#include "update/ClientPath.h"
#include "update/Documents.h"

static PathFolding foldingFor(int doubleByte) {
    PathFolding f = asciiPathFolding();
    for (int c = 0xe0; c <= 0xfe && !doubleByte; ++c) f.single[c] = (unsigned char)(c == 0xf7 ? c : c - 0x20);
    for (int c = 0x81; c <= 0x9f && doubleByte; ++c) f.lead[c] = 1;
    return f;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const PathFolding latin = foldingFor(0), doubleByte = foldingFor(1);
    gPathFolding = size & 1 ? doubleByte : latin;
    gPathHashKey[0] = 0x5eed;
    strcpy(launcherState.ownExeName, "Game Launcher.exe");
    std::vector<char> line = nextString(&data, &size, SIZE_MAX);
    ManifestEntry entry;
    int accepted = parseManifestLine(line.data(), &entry);
    if (!parseManifestFields(line.data(), &entry)) return 0;
    const char* path = entry.path;
    size_t length = strlen(path);
    FUZZ_CHECK(strnlen(entry.sha256, DIGEST_TEXT_SIZE) == 64 && length < RELATIVE_PATH_SIZE && path[0] &&
               !strpbrk(path, "\r\n"));

    // Windows reads letters in either case and both separators alike: same
    // file, same hash, same decision.
    std::vector<char> swapped(path, path + length + 1);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)path[i], other = (unsigned char)(c ^ 0x20);
        if (gPathFolding.lead[c] && i + 1 < length) {
            ++i;  // a trail byte belongs to its character and keeps its case
            continue;
        }
        int same = !gPathFolding.lead[other] && gPathFolding.single[c] == gPathFolding.single[other];
        swapped[i] = c == '/' ? '\\' : c == '\\' ? '/' : same ? (char)other : (char)c;
    }
    FUZZ_CHECK(sameClientPath(path, swapped.data()) &&
               clientPathHash(path, length) == clientPathHash(swapped.data(), length));
    const char* exe = launcherState.ownExeName;
    FUZZ_CHECK(clientPathRefusal(swapped.data(), exe) == clientPathRefusal(path, exe));
    // An accepted path stays in the client folder, and neither it nor its first
    // folder takes the name of one of the launcher's files.
    std::string first(path, strcspn(path, "\\/"));
    if (accepted) FUZZ_CHECK(!strchr(path, ':') && !strstr(path, "..") && !isOwnFileName(first.c_str(), exe));
    return 0;
}
