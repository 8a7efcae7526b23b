// What a folder listing says of each file, so that the check asks the file
// system once per folder instead of once per file where a folder holds
// several files of the manifest. Names are compared as Windows compares them
// (update/ClientPath.h); a name the listing lacks is asked for on its own.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "update/Cache.h"

struct ListedFile {
    uint64_t size;
    WriteTime writeTime;
    uint32_t attributes;
};

struct ListedEntry {
    uint32_t nameOffset;
    ListedFile file;
};

struct FolderListing {
    char* names;  // every name with its terminator
    size_t namesUsed;
    size_t namesCapacity;
    ListedEntry* entries;  // sorted by folded name once finished
    uint32_t count;
    uint32_t capacity;
};

// Adds one listed name; 0 when there is no memory (the listing is then not to be used).
int addListedFile(FolderListing* listing, const char* name, const ListedFile* file);
// Sorts the entries for lookups; call once all names are in.
void finishListing(FolderListing* listing);
// The file listed under name, or null.
const ListedFile* findListedFile(const FolderListing* listing, const char* name);
void freeListing(FolderListing* listing);

// The folders of one check, found by their path as written in the manifest.
enum { FOLDER_UNKNOWN = 0, FOLDER_LISTED, FOLDER_UNLISTABLE };

struct FolderState {
    int32_t status;         // FOLDER_*
    int32_t singleQueries;  // files of it asked for one by one so far
    FolderListing listing;
    char path[1];  // the folder, allocated to its length
};

struct FolderMap {
    FolderState** slots;
    uint32_t slotCount;
    uint32_t count;
    uint64_t probes;  // slots examined, for tests
};

// The state of the folder whose path is the first length bytes of path,
// made on first use; null when there is no memory.
FolderState* folderStateFor(FolderMap* map, const char* path, size_t length);
void freeFolderMap(FolderMap* map);
