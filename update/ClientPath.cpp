#include "update/ClientPath.h"

#include <string.h>

#include "shell/Text.h"

// Temporary names are listed too: a manifest naming one would be overwritten
// by the launcher's next save, or would overwrite the file being saved.
const char* const kOwnFileNames[] = {"launcher.ini",
                                     "OrvelLauncher.exe",
                                     "OrvelLauncher.cache",
                                     "OrvelLauncher.cache.new",
                                     "OrvelLauncher.log",
                                     "OrvelLauncher.log.new",
                                     "OrvelLauncher.lock",
                                     "OrvelLauncher.release",
                                     "OrvelLauncher.release.new"};
const int kOwnFileNameCount = (int)(sizeof(kOwnFileNames) / sizeof(kOwnFileNames[0]));

static int equalsIgnoreCaseN(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return 0;
    }
    return 1;
}

// Windows keeps device names whatever follows the first dot, and drops blanks
// before it: "nul.txt", "CON .log" and "COM1.dat" all open a device.
static int isDeviceName(const char* name, size_t length) {
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t base = 0;
    while (base < length && name[base] != '.') ++base;
    while (base > 0 && name[base - 1] == ' ') --base;
    for (const char* device : devices) {
        if (base == strlen(device) && equalsIgnoreCaseN(name, device, base)) return 1;
    }
    if (base != 4 || !(equalsIgnoreCaseN(name, "COM", 3) || equalsIgnoreCaseN(name, "LPT", 3))) return 0;
    // COM0-COM9 and LPT0-LPT9, and the superscript digits 1, 2 and 3 of the
    // ANSI code page, which Windows reads as the same devices.
    unsigned char digit = (unsigned char)name[3];
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

int isOwnFileName(const char* name, const char* ownExeName) {
    if (ownExeName && ownExeName[0] && equalsIgnoreCase(name, ownExeName)) return 1;
    for (int i = 0; i < kOwnFileNameCount; ++i) {
        if (equalsIgnoreCase(name, kOwnFileNames[i])) return 1;
    }
    return 0;
}

static int nameRefusal(const char* name, size_t length) {
    if (length == 0) return CLIENT_PATH_EMPTY_NAME;
    if (length == 1 && name[0] == '.') return CLIENT_PATH_DOT_NAME;
    if (name[length - 1] == '.' || name[length - 1] == ' ') return CLIENT_PATH_NAME_END;
    if (isDeviceName(name, length)) return CLIENT_PATH_DEVICE;
    return CLIENT_PATH_OK;
}

int clientPathRefusal(const char* path, const char* ownExeName) {
    if (path[0] == 0) return CLIENT_PATH_EMPTY;
    if (isClientPathSeparator(path[0])) return CLIENT_PATH_ABSOLUTE;
    for (const char* p = path; *p; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c < 32) return CLIENT_PATH_CONTROL;
        if (c == ':') return CLIENT_PATH_COLON;
        if (c == '.' && p[1] == '.') return CLIENT_PATH_PARENT;
    }
    int separators = 0;
    for (const char* name = path;;) {
        const char* end = name;
        while (*end && !isClientPathSeparator(*end)) ++end;
        int refusal = nameRefusal(name, (size_t)(end - name));
        if (refusal != CLIENT_PATH_OK) return refusal;
        if (*end == 0) break;
        ++separators;
        name = end + 1;
    }
    size_t length = strlen(path);
    if (length >= 5 && equalsIgnoreCase(path + length - 5, ".part")) return CLIENT_PATH_PART;
    // Every name is now one Windows keeps as written, so a path without a
    // separator is exactly a file in the client folder itself.
    if (separators == 0 && isOwnFileName(path, ownExeName)) return CLIENT_PATH_OWN_FILE;
    return CLIENT_PATH_OK;
}

const char* clientPathRefusalText(int refusal) {
    switch (refusal) {
        case CLIENT_PATH_OK: return "accepted";
        case CLIENT_PATH_EMPTY: return "empty path";
        case CLIENT_PATH_ABSOLUTE: return "absolute path";
        case CLIENT_PATH_COLON: return "':' names a drive or a stream";
        case CLIENT_PATH_PARENT: return "\"..\" in the path";
        case CLIENT_PATH_CONTROL: return "control character in the path";
        case CLIENT_PATH_EMPTY_NAME: return "empty name (doubled or trailing separator)";
        case CLIENT_PATH_DOT_NAME: return "\".\" as a name (Windows drops it)";
        case CLIENT_PATH_NAME_END: return "a name ends in a dot or a blank (Windows drops it)";
        case CLIENT_PATH_DEVICE: return "a reserved device name on Windows";
        case CLIENT_PATH_PART: return "ends in .part, the launcher's temporary download files";
        case CLIENT_PATH_OWN_FILE: return "one of the launcher's own files";
    }
    return "refused";
}

static char foldedByte(char c) { return c == '/' ? '\\' : asciiLower(c); }

int sameClientPath(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (foldedByte(*a) != foldedByte(*b)) return 0;
    }
    return *a == *b;
}

unsigned clientPathHash(const char* path) {
    unsigned hash = 2166136261u;  // FNV-1a over the folded bytes
    for (; *path; ++path) {
        hash ^= (unsigned char)foldedByte(*path);
        hash *= 16777619u;
    }
    return hash;
}
