// The warm start's pure part, natively and without sanitizers, for profiling
// (valgrind --tool=callgrind, perf): a manifest of COUNT lines parsed and
// looked up in the verification cache, and the cache file loaded and saved,
// with the rules the launcher runs.
//   bench_manifest COUNT CACHE_FILE
// Prints "key=value" lines in milliseconds.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Cache.h"
#include "update/Documents.h"
#include "update/PathSet.h"

enum { BENCH_LINE_SIZE = 400 };

static double nowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1e6;
}

// The same names the benchmark's client folders use: nested folders, files
// of 1 to 4 KiB, a digest that differs for every file.
static void makeLine(char* out, int32_t index) {
    char digest[DIGEST_TEXT_SIZE];
    uint32_t x = (uint32_t)index * 2654435761u + 1;
    for (int i = 0; i < 64; ++i) {
        x = x * 1664525u + 1013904223u;
        digest[i] = "0123456789abcdef"[x >> 28];
    }
    digest[64] = 0;
    formatText(out, BENCH_LINE_SIZE, "%s %d d%03d\\s%02d\\f%06d.dat\r\n", digest, 1024 + (index * 37) % 3072,
               index / 1000, (index / 50) % 20, index);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bench_manifest COUNT CACHE_FILE\n");
        return 2;
    }
    int32_t count = atoi(argv[1]);
    const char* cacheFile = argv[2];
    int result = 1;
    char* manifest = (char*)malloc((size_t)count * BENCH_LINE_SIZE + 1);
    ManifestEntry entry;
    PathSet seen = {};
    int32_t good = 0;
    double t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4 = 0;
    if (!manifest || count <= 0) goto cleanup;

    {
        size_t used = 0;
        for (int32_t i = 0; i < count; ++i) {
            makeLine(manifest + used, i);
            used += strlen(manifest + used);
        }
    }
    // A current cache: one record a manifest line, as the first run leaves it.
    for (const char* line = manifest; *line;) {
        const char* lineFeed = strchr(line, '\n');
        char copy[BENCH_LINE_SIZE];
        memcpy(copy, line, (size_t)(lineFeed - line));
        copy[lineFeed - line] = 0;
        if (parseManifestLine(copy, &entry)) {
            CacheEntry* record = addCacheEntry(entry.path);
            if (!record) goto cleanup;
            record->size = entry.size;
            record->writeTime.low = 0x12345678u;
            record->writeTime.high = 0x01d9a0b0u;
            memcpy(record->sha256, entry.sha256, sizeof(entry.sha256));
        }
        line = lineFeed + 1;
    }

    t0 = nowMs();
    saveCacheFile(cacheFile);
    t1 = nowMs();
    clearCache();
    loadCacheFile(cacheFile);
    t2 = nowMs();
    // The update run's loop without the file system: parse, skip repeats,
    // look the path up and compare size and digest.
    for (char* line = manifest; line;) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        if (parseManifestLine(line, &entry) && addPathOnce(&seen, entry.path)) {
            const CacheEntry* record = findCacheEntry(entry.path);
            if (record && record->size == entry.size && equalsIgnoreCase(record->sha256, entry.sha256)) ++good;
        }
        line = lineFeed ? lineFeed + 1 : nullptr;
    }
    t3 = nowMs();
    saveCacheFile(cacheFile);
    t4 = nowMs();

    printf("files=%d\n", count);
    printf("good=%d\n", good);
    printf("cache_records=%d\n", launcherState.cacheCount);
    printf("first_save_ms=%.3f\n", t1 - t0);
    printf("cache_load_ms=%.3f\n", t2 - t1);
    printf("lookup_ms=%.3f\n", t3 - t2);
    printf("cache_save_ms=%.3f\n", t4 - t3);
    result = good == count ? 0 : 1;

cleanup:
    freePathSet(&seen);
    free(manifest);
    return result;
}
