#include "update/ClientPath.h"

#include <string.h>

#include "shell/Text.h"

// Temporary names are listed too: a manifest naming one would be overwritten
// by the launcher's next save, or would overwrite the file being saved. So
// are the names a self-update uses: the executable set aside, its download
// and the time of the last one (see update/SelfUpdate.h).
const char* const kOwnFileNames[] = {"launcher.ini",
                                     "OrvelLauncher.exe",
                                     "OrvelLauncher.exe.old",
                                     "OrvelLauncher.exe.part",
                                     "OrvelLauncher.selfupdate",
                                     "OrvelLauncher.selfupdate.new",
                                     "OrvelLauncher.cache",
                                     "OrvelLauncher.cache.new",
                                     "OrvelLauncher.log",
                                     "OrvelLauncher.log.new",
                                     "OrvelLauncher.lock",
                                     "OrvelLauncher.release",
                                     "OrvelLauncher.release.new"};
const int kOwnFileNameCount = (int)(sizeof(kOwnFileNames) / sizeof(kOwnFileNames[0]));
const char* const kSetAsideSuffix = ".old";

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

// The running launcher's name, and that name set aside by a self-update.
static int isOwnExeNameN(const char* name, size_t length, const char* ownExeName) {
    if (!ownExeName || !ownExeName[0]) return 0;
    char setAside[300];  // a name of up to 259 characters and the suffix
    return compareClientPaths(name, length, ownExeName, strlen(ownExeName)) == 0 ||
           (formatText(setAside, sizeof(setAside), "%s%s", ownExeName, kSetAsideSuffix) &&
            compareClientPaths(name, length, setAside, strlen(setAside)) == 0);
}

static int isOwnFileNameN(const char* name, size_t length, const char* ownExeName) {
    if (isOwnExeNameN(name, length, ownExeName)) return 1;
    for (int i = 0; i < kOwnFileNameCount; ++i) {
        if (compareClientPaths(name, length, kOwnFileNames[i], strlen(kOwnFileNames[i])) == 0) return 1;
    }
    return 0;
}

int isOwnFileName(const char* name, const char* ownExeName) { return isOwnFileNameN(name, strlen(name), ownExeName); }

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
    size_t firstLength = 0;
    for (const char* name = path;;) {
        const char* end = name;
        while (*end && !isClientPathSeparator(*end)) ++end;
        int refusal = nameRefusal(name, (size_t)(end - name));
        if (refusal != CLIENT_PATH_OK) return refusal;
        if (name == path) firstLength = (size_t)(end - name);
        if (*end == 0) break;
        name = end + 1;
    }
    size_t length = strlen(path);
    if (length >= 5 && equalsIgnoreCase(path + length - 5, ".part")) return CLIENT_PATH_PART;
    // Every name is now one Windows keeps as written, so the first one is a
    // file or folder in the client folder itself: a folder named like an own
    // file would keep the launcher from ever saving that file again.
    if (isOwnFileNameN(path, firstLength, ownExeName)) return CLIENT_PATH_OWN_FILE;
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
        case CLIENT_PATH_OWN_FILE: return "one of the launcher's own files, or a folder named like one";
    }
    return "refused";
}

PathFolding asciiPathFolding() {
    PathFolding folding = {};
    for (int c = 0; c < 256; ++c) folding.single[c] = (unsigned char)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    folding.single['/'] = '\\';
    return folding;
}

PathFolding gPathFolding = asciiPathFolding();
uint64_t gPathHashKey[2] = {0x0123456789abcdefull, 0xfedcba9876543210ull};

int compareClientPaths(const char* a, size_t aLength, const char* b, size_t bLength) {
    const unsigned char *p = (const unsigned char*)a, *pEnd = p + aLength;
    const unsigned char *q = (const unsigned char*)b, *qEnd = q + bLength;
    while (p < pEnd && q < qEnd) {
        unsigned x = 0, y = 0;
        p += foldedCharacter(p, pEnd, &x);
        q += foldedCharacter(q, qEnd, &y);
        if (x != y) return x < y ? -1 : 1;
    }
    return (p < pEnd) - (q < qEnd);
}

int sameClientPath(const char* a, const char* b) { return compareClientPaths(a, strlen(a), b, strlen(b)) == 0; }

static inline uint64_t rotate(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

static inline void sipRounds(uint64_t v[4], int rounds) {
    for (int i = 0; i < rounds; ++i) {
        v[0] += v[1];
        v[1] = rotate(v[1], 13) ^ v[0];
        v[0] = rotate(v[0], 32);
        v[2] += v[3];
        v[3] = rotate(v[3], 16) ^ v[2];
        v[0] += v[3];
        v[3] = rotate(v[3], 21) ^ v[0];
        v[2] += v[1];
        v[1] = rotate(v[1], 17) ^ v[2];
        v[2] = rotate(v[2], 32);
    }
}

// SipHash-2-4 over the folded characters, fed a byte at a time into 64-bit words.
uint64_t clientPathHash(const char* path, size_t length) {
    uint64_t k0 = gPathHashKey[0], k1 = gPathHashKey[1];
    uint64_t v[4] = {k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull, k0 ^ 0x6c7967656e657261ull,
                     k1 ^ 0x7465646279746573ull};
    uint64_t word = 0, bytes = 0;
    auto add = [&](unsigned byte) {
        word |= (uint64_t)(byte & 0xff) << (8 * (bytes++ & 7));
        if ((bytes & 7) != 0) return;
        v[3] ^= word;
        sipRounds(v, 2);
        v[0] ^= word;
        word = 0;
    };
    const unsigned char *p = (const unsigned char*)path, *end = p + length;
    while (p < end) {
        unsigned code = 0;
        p += foldedCharacter(p, end, &code);
        if (code > 0xff) add(code >> 8);
        add(code);
    }
    word |= bytes << 56;
    v[3] ^= word;
    sipRounds(v, 2);
    v[0] ^= word;
    v[2] ^= 0xff;
    sipRounds(v, 4);
    return v[0] ^ v[1] ^ v[2] ^ v[3];
}
