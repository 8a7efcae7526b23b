#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "tools/publish/Publish.h"

// Names from FindFirstFileA come in the ANSI code page; anything it cannot
// hold arrives as '?', which the path rules refuse.
static int walkFolder(char* full, size_t fullLength, size_t relativeStart, PublishFileList* list) {
    if (fullLength + 2 >= PUBLISH_WALK_PATH_SIZE) {
        return addPublishFile(list, full + relativeStart, 0, PUBLISH_KIND_UNREADABLE);
    }
    memcpy(full + fullLength, "/*", 3);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(full, &data);
    full[fullLength] = 0;
    if (find == INVALID_HANDLE_VALUE) return addPublishFile(list, full + relativeStart, 0, PUBLISH_KIND_UNREADABLE);
    int result = 1;
    do {
        const char* name = data.cFileName;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        size_t nameLength = strlen(name);
        if (fullLength + 1 + nameLength >= PUBLISH_WALK_PATH_SIZE) {
            result = addPublishFile(list, full + relativeStart, 0, PUBLISH_KIND_UNREADABLE);
            continue;
        }
        full[fullLength] = '/';
        memcpy(full + fullLength + 1, name, nameLength + 1);
        DWORD attributes = data.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            result = addPublishFile(list, full + relativeStart, 0, PUBLISH_KIND_LINK);
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            result = walkFolder(full, fullLength + 1 + nameLength, relativeStart, list);
        } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
            result = addPublishFile(list, full + relativeStart, 0, PUBLISH_KIND_OTHER);
        } else {
            uint64_t size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
            result = addPublishFile(list, full + relativeStart, size, PUBLISH_KIND_FILE);
        }
        full[fullLength] = 0;
    } while (result && FindNextFileA(find, &data));
    FindClose(find);
    return result;
}

int walkClientFolder(const char* root, PublishFileList* list) {
    char full[PUBLISH_WALK_PATH_SIZE];
    size_t rootLength = strlen(root);
    if (rootLength + 1 >= PUBLISH_WALK_PATH_SIZE) return 0;
    memcpy(full, root, rootLength + 1);
    DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    return walkFolder(full, rootLength, rootLength + 1, list);
}

int32_t localFileKind(const char* path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return PUBLISH_KIND_MISSING;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return PUBLISH_KIND_OTHER;
    *size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return PUBLISH_KIND_FILE;
}

int replaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int makeHardLink(const char* existing, const char* link) { return CreateHardLinkA(link, existing, nullptr) != 0; }

// The volume and the file's index within it, read through a handle that asks
// for no access, so a file in use still answers.
static int readFileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int read = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return read;
}

int sameLocalFile(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return readFileIdentity(a, &first) && readFileIdentity(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

int makeFolder(const char* path) {
    if (CreateDirectoryA(path, nullptr)) return 1;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int isTerminal(FILE* stream) { return _isatty(_fileno(stream)); }

uint64_t monotonicMilliseconds() { return GetTickCount64(); }

void useBinaryOutput(FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }
