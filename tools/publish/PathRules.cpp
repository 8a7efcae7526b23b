#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Publish.h"
#include "update/ClientPath.h"

int findPathRefusal(const char* path, int clientDirLength, char* reason, size_t reasonSize) {
    if (path[0] == 0) return setReason(reason, reasonSize, "empty path");
    if (path[0] == '/') return setReason(reason, reasonSize, "absolute path (the launcher rejects it)");
    if (path[0] == ' ') {
        return setReason(reason, reasonSize, "begins with a blank (the launcher's manifest reader drops it)");
    }
    for (const char* p = path; *p; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c < 32) {
            return setReason(reason, reasonSize, "control character 0x%02x (the launcher rejects it)", c);
        }
        if (c >= 128) {
            return setReason(reason, reasonSize, "non-ASCII byte 0x%02x (the player's ANSI code page may not hold it)",
                             c);
        }
        if (c == '.' && p[1] == '.')
            return setReason(reason, reasonSize, "\"..\" in the path (the launcher rejects it)");
        if (c == '\\') {
            return setReason(reason, reasonSize, "'\\' inside a name (Windows reads it as a folder separator)");
        }
        if (strchr("<>:\"|?*", c)) {
            return setReason(reason, reasonSize, "'%c' is not allowed in Windows file names", c);
        }
    }
    char manifestPath[RELATIVE_PATH_SIZE];
    size_t length = strlen(path);
    int limit = PUBLISH_LOCAL_PATH_LIMIT - clientDirLength - 1 - PUBLISH_PART_SUFFIX_LENGTH;
    if (length > (size_t)limit || !toManifestPath(path, manifestPath)) {
        return setReason(reason, reasonSize,
                         "%llu characters long; at most %d fit under a %d-character client folder "
                         "(\"<folder>\\<path>.part\" must stay within %d characters)",
                         (unsigned long long)length, limit, clientDirLength, PUBLISH_LOCAL_PATH_LIMIT);
    }
    // The launcher's own rule: whatever it would skip is never listed.
    int refusal = clientPathRefusal(manifestPath, nullptr);
    if (refusal != CLIENT_PATH_OK) {
        return setReason(reason, reasonSize, "%s (the launcher skips it)", clientPathRefusalText(refusal));
    }
    return 0;
}

const char* skippedPathNote(const char* path) {
    size_t length = strlen(path);
    if (length >= PUBLISH_PART_SUFFIX_LENGTH && equalsIgnoreCase(path + length - PUBLISH_PART_SUFFIX_LENGTH, ".part")) {
        return "an unfinished download";
    }
    if (strchr(path, '/')) return nullptr;
    if (isOwnFileName(path, nullptr)) return "one of the launcher's own files";
    // The launcher fetches these from the same folder of the server.
    if (equalsIgnoreCase(path, "manifest.txt") || equalsIgnoreCase(path, "news.txt")) {
        return "the server's own document";
    }
    if (equalsIgnoreCase(path, "manifest.txt.sig")) return "the manifest's signature";
    return nullptr;
}

size_t deepFolderLength(const char* path) {
    const char* lastSeparator = strrchr(path, '/');
    size_t length = lastSeparator ? (size_t)(lastSeparator - path) : 0;
    // "<client folder>\<folder>" must stay within the limit.
    int room = PUBLISH_FOLDER_PATH_LIMIT - 1 - (int)length;
    return room < PUBLISH_CLIENT_DIR_ROOM ? length : 0;
}

int toManifestPath(const char* path, char* out) {
    size_t length = strlen(path);
    if (length >= RELATIVE_PATH_SIZE) return 0;
    for (size_t i = 0; i <= length; ++i) out[i] = path[i] == '/' ? '\\' : path[i];
    return 1;
}
