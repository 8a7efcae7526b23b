#include <windows.h>

#include "tools/publish/Publish.h"
#include "update/Digest.h"

// The launcher's own digest, so a file this tool publishes is one the
// launcher accepts. It reports no progress of its own: a file counts once
// done. It shares the file for reading only, so the size taken right after is
// the size it hashed.
int hashLocalFile(const char* path, char* hexOut, uint64_t* hashedSize, PublishProgress* progress) {
    if (!fileSha256Hex(path, hexOut)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
    *hashedSize = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    addHashedBytes(progress, *hashedSize);
    return 1;
}
