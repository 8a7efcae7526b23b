// The launcher's own files by identity (volume and file index), so that no
// spelling - an 8.3 short name, a link, a case variant - lets a download
// replace them.
#pragma once

#include <stdint.h>

enum { OWN_FILES_CAPACITY = 24 };

struct FileIdentity {
    uint32_t volume;
    uint32_t indexHigh;
    uint32_t indexLow;
};

struct OwnFiles {
    int32_t count;
    FileIdentity files[OWN_FILES_CAPACITY];
};

// The identities of the launcher's executable and of those of its own files
// in the client folder that exist now, the self-update's among them.
void collectOwnFiles(OwnFiles* own);

// 1 when path exists and is one of them.
int isOwnFile(const OwnFiles* own, const char* path);
