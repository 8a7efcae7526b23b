// Which manifest paths name a file the launcher may write into the client
// folder. Windows reads a path differently from its bytes: it drops trailing
// dots and blanks of a name, "." names vanish, "/" is "\", letter case does
// not count, and device names stay devices with any extension in any folder.
// So the launcher decides by what Windows reads, not by the spelling.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    CLIENT_PATH_OK = 0,
    CLIENT_PATH_EMPTY,
    CLIENT_PATH_ABSOLUTE,    // begins with "/" or "\"
    CLIENT_PATH_COLON,       // a drive, or a stream of a file
    CLIENT_PATH_PARENT,      // ".." anywhere
    CLIENT_PATH_CONTROL,     // a byte below 32
    CLIENT_PATH_EMPTY_NAME,  // doubled or trailing separator
    CLIENT_PATH_DOT_NAME,    // a "." name, which Windows drops
    CLIENT_PATH_NAME_END,    // a name ending in a dot or a blank, which Windows drops
    CLIENT_PATH_DEVICE,      // CON, NUL, COM1, LPT1... with any extension
    CLIENT_PATH_PART,        // the launcher's own temporary download files
    CLIENT_PATH_OWN_FILE     // one of the launcher's own files, or a folder that takes its name
};

// "\\" and "/" both separate names on Windows.
inline int isClientPathSeparator(char c) { return c == '\\' || c == '/'; }

// The launcher's own files in the client folder, besides its executable
// (whatever it is called) and that name with kSetAsideSuffix, where a
// self-update sets the running executable aside. Every file the launcher
// keeps there is listed here, so no manifest can name it.
extern const char* const kOwnFileNames[];
extern const int kOwnFileNameCount;
extern const char* const kSetAsideSuffix;

// CLIENT_PATH_OK, or why the launcher never writes path. ownExeName is the
// running launcher's file name (null or empty when unknown).
int clientPathRefusal(const char* path, const char* ownExeName);

// A short English reason for a refusal, for the publishing tool and the log.
const char* clientPathRefusalText(int refusal);

// 1 when a single name is one of the launcher's own files, as Windows
// compares names.
int isOwnFileName(const char* name, const char* ownExeName);

// How Windows compares the names of the code page in use: NTFS ignores letter
// case as Unicode knows it, so "caf\xE9" and "CAF\xC9" are one file in code
// page 1252. single holds each byte's capital ("/" as "\\"); in a double-byte
// code page a lead byte takes the next byte with it, and pairs (when set)
// holds the capital of each such character (lead << 8 | trail). A trail byte
// is never folded alone: it may look like A-Z and be another character. The
// default folds A-Z only; the Windows side fills it for the ANSI code page at
// start-up, before any thread compares paths.
struct PathFolding {
    unsigned char single[256];
    unsigned char lead[256];  // 1 for the lead bytes of a double-byte code page
    const uint16_t* pairs;    // 65,536 entries, or null: two-byte characters as written
};
extern PathFolding gPathFolding;
PathFolding asciiPathFolding();

// The key of the path sets' hash. A keyed hash that no manifest knows the key
// of cannot be flooded with paths built to collide; the Windows side draws it
// at start-up, native tests set their own.
extern uint64_t gPathHashKey[2];

// The next character of a path as Windows compares names: writes its folded
// code (a byte, or lead << 8 | trail) and returns the bytes it took.
inline size_t foldedCharacter(const unsigned char* p, const unsigned char* end, unsigned* code) {
    const PathFolding& f = gPathFolding;
    if (f.lead[*p] && p + 1 < end && p[1] != 0) {
        unsigned pair = (unsigned)*p << 8 | p[1];
        *code = f.pairs ? f.pairs[pair] : pair;
        return 2;
    }
    *code = f.single[*p];
    return 1;
}

// Client paths (or single names) in the order of their folded characters: 0
// when Windows reads them as the same file. The hash agrees with it.
int compareClientPaths(const char* a, size_t aLength, const char* b, size_t bLength);
int sameClientPath(const char* a, const char* b);
uint64_t clientPathHash(const char* path, size_t length);

#ifdef _WIN32
// Fills gPathFolding for the ANSI code page of locale, with the file
// system's own casing. (ClientPath_win.cpp)
void loadPathFolding(unsigned long locale);
// At start-up: the folding of the system's code page and a random hash key.
void initClientPathRules();
#endif
