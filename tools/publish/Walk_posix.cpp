#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "tools/publish/Publish.h"

static int32_t kindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return PUBLISH_KIND_FILE;
    if (S_ISLNK(mode)) return PUBLISH_KIND_LINK;
    return PUBLISH_KIND_OTHER;
}

// full holds the folder's path; the part relative to the root starts at
// full + relativeStart.
static int walkFolder(char* full, size_t fullLength, size_t relativeStart, PublishFileList* list) {
    DIR* dir = opendir(full);
    if (!dir) return addPublishFile(list, full + relativeStart, 0, PUBLISH_KIND_UNREADABLE);
    int result = 1;
    struct dirent* entry;
    while (result && (entry = readdir(dir)) != nullptr) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        size_t nameLength = strlen(name);
        if (fullLength + 1 + nameLength >= PUBLISH_WALK_PATH_SIZE) {
            // Too deep to name: reported as its folder.
            result = addPublishFile(list, full + relativeStart, 0, PUBLISH_KIND_UNREADABLE);
            continue;
        }
        full[fullLength] = '/';
        memcpy(full + fullLength + 1, name, nameLength + 1);
        struct stat info;
        if (lstat(full, &info) != 0) {
            result = addPublishFile(list, full + relativeStart, 0, PUBLISH_KIND_UNREADABLE);
        } else if (S_ISDIR(info.st_mode)) {
            result = walkFolder(full, fullLength + 1 + nameLength, relativeStart, list);
        } else {
            result = addPublishFile(list, full + relativeStart, (uint64_t)info.st_size, kindOfMode(info.st_mode));
        }
        full[fullLength] = 0;
    }
    closedir(dir);
    return result;
}

int walkClientFolder(const char* root, PublishFileList* list) {
    char full[PUBLISH_WALK_PATH_SIZE];
    size_t rootLength = strlen(root);
    if (rootLength + 1 >= PUBLISH_WALK_PATH_SIZE) return 0;
    memcpy(full, root, rootLength + 1);
    DIR* dir = opendir(full);
    if (!dir) return 0;
    closedir(dir);
    return walkFolder(full, rootLength, rootLength + 1, list);
}

int32_t localFileKind(const char* path, uint64_t* size) {
    struct stat info;
    if (stat(path, &info) != 0) return PUBLISH_KIND_MISSING;
    *size = (uint64_t)info.st_size;
    return S_ISREG(info.st_mode) ? PUBLISH_KIND_FILE : PUBLISH_KIND_OTHER;
}

int replaceFile(const char* from, const char* to) { return rename(from, to) == 0; }

int makeHardLink(const char* existing, const char* link) { return ::link(existing, link) == 0; }

int sameLocalFile(const char* a, const char* b) {
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

int makeFolder(const char* path) {
    struct stat info;
    return mkdir(path, 0755) == 0 || (errno == EEXIST && stat(path, &info) == 0 && S_ISDIR(info.st_mode));
}

int isTerminal(FILE* stream) { return isatty(fileno(stream)); }

uint64_t monotonicMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000;
}

void useBinaryOutput(FILE*) {}
