// Which manifest paths name a file the launcher may write into the client
// folder. Windows reads a path differently from its bytes: it drops trailing
// dots and blanks of a name, "." names vanish, "/" is "\", letter case does
// not count, and device names stay devices with any extension in any folder.
// So the launcher decides by what Windows reads, not by the spelling.
#pragma once

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
    CLIENT_PATH_OWN_FILE     // one of the launcher's own files in the client folder
};

// "\\" and "/" both separate names on Windows.
inline int isClientPathSeparator(char c) { return c == '\\' || c == '/'; }

// The launcher's own files in the client folder, besides its executable
// (whatever it is called). Every file the launcher keeps there is listed
// here, so no manifest can name it.
extern const char* const kOwnFileNames[];
extern const int kOwnFileNameCount;

// CLIENT_PATH_OK, or why the launcher never writes path. ownExeName is the
// running launcher's file name (null or empty when unknown).
int clientPathRefusal(const char* path, const char* ownExeName);

// A short English reason for a refusal, for the publishing tool and the log.
const char* clientPathRefusalText(int refusal);

// 1 when a single name is one of the launcher's own files, ignoring case.
int isOwnFileName(const char* name, const char* ownExeName);

// 1 when two client paths name the same file as Windows reads them ("/" and
// "\" alike, A-Z case ignored); the hash agrees with it.
int sameClientPath(const char* a, const char* b);
unsigned clientPathHash(const char* path);
