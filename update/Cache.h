// The verification cache: for every file the update run has hashed, the size
// and last-write time it had and the digest computed from it. In memory it is
// an array in insertion order with a hash index on the folded path; on
// disk it is OrvelLauncher.cache in the client folder, one text line a record:
//   "<sha256> <size> <write time high> <write time low> <path>"
#pragma once

#include <stddef.h>
#include <stdint.h>

// Same layout as the platform's FILETIME: 100 ns units since 1601, UTC.
struct WriteTime {
    uint32_t low;
    uint32_t high;
};

struct CacheEntry {
    char path[260];
    uint64_t size;  // 0 marks a record that is not saved
    WriteTime writeTime;
    char sha256[65];
};

// Open addressing over record indexes; slot value 0 is empty, n + 1 is
// record n. Holds the first record of each path as Windows reads it.
struct CacheIndex {
    int32_t* slots;
    uint32_t slotCount;  // a power of two, twice the array capacity
    uint64_t probes;     // slots examined, for tests
};

enum {
    CACHE_FIRST_CAPACITY = 4096,
    CACHE_READ_BUFFER_SIZE = 388,
    CACHE_WRITE_LINE_SIZE = 388,  // the longest record: 64 + 20 + 10 + 10 + 259 characters, 4 blanks, LF
    CACHE_SHORTEST_LINE = 72  // a record as the launcher writes it: 64 + 4 fields of a character or more, blanks, LF
};

// First record, in array order, whose path is path as Windows reads it
// (update/ClientPath.h: letter case ignored, "/" and "\" alike).
CacheEntry* findCacheEntry(const char* path);

// Appends a record holding only path (cut to 259 characters) and returns it;
// the caller fills the rest. Returns null, with every stored record intact,
// when the array or its index cannot grow. The pointer is valid until the
// next append.
CacheEntry* addCacheEntry(const char* path);

// Lookup by digest, for files that moved or repeat. The index is built once
// the check has brought the records up to date, only for a run that has
// files to fetch, so the check never pays for it; it holds every saved record
// with a digest. 0 when there is no memory: lookups then find nothing.
int indexCacheDigests();
void freeCacheDigestIndex();

// The records whose digest is sha256 (either case), one a call: start with
// *cursor 0; null when there are no more. Read-only, so that the download
// workers may call it while the run's thread waits for them.
const CacheEntry* nextCacheEntryWithDigest(const char* sha256, uint32_t* cursor);

// Marks the first record of path with size 0 so that it is not saved.
void dropCacheEntry(const char* path);

// Empties the in-memory cache, keeping its storage for reuse.
void clearCache();

// Makes room for at least records records at once (0 when there is no memory).
int reserveCache(size_t records);

// OrvelLauncher.cache in clientDir. A file that cannot be opened leaves the
// records in memory as they are; one that opens replaces them, so a later run
// of the same process never holds a path twice. The file is saved beside its
// name and moved over it, so a launcher closed during the save keeps the
// previous cache whole. (Cache_win.cpp)
void loadCache();
void saveCache();

// The same on an explicit file name; saveCacheFile returns 1 when every byte
// was written.
void loadCacheFile(const char* fileName);
int saveCacheFile(const char* fileName);

// Replaces the in-memory cache with the records of a whole cache file's text.
void loadCacheText(const char* text, size_t length);

// Parses one cache line ("%64s %llu %lu %lu %259[^\r\n]"). Returns 1 when
// all five fields were read.
int parseCacheLine(const char* line, CacheEntry* out);

// Allocation used for the array and its index; tests replace it to prove that
// a failed growth loses nothing.
extern void* (*gCacheReallocate)(void* block, size_t size);
