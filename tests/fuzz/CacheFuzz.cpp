// The cache file's text as the loader reads it: every record terminated and
// found again by its path as Windows reads it. Then one line alone against the C library.
#include "shell/LauncherState.h"
#include "tests/fuzz/Fuzz.h"
#include "update/Cache.h"
#include "update/ClientPath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loader takes the file's bytes as they are, without a terminator.
    std::vector<char> file(data, data + size);
    loadCacheText(file.data(), file.size());
    const LauncherState& s = launcherState;
    for (int32_t i = 0; i < s.cacheCount; ++i) {
        const CacheEntry& entry = s.cacheEntries[i];
        FUZZ_CHECK(memchr(entry.sha256, 0, sizeof(entry.sha256)) && memchr(entry.path, 0, sizeof(entry.path)));
        const CacheEntry* found = findCacheEntry(entry.path);
        FUZZ_CHECK(found && found <= &entry && sameClientPath(found->path, entry.path));
    }
    clearCache();  // keeps its storage: memory stays what the largest input needed

    // One line alone reads exactly as the C library reads the format.
    std::vector<char> text = nextString(&data, &size, SIZE_MAX);
    CacheEntry line, expected;
    unsigned long long bytes = 0;
    unsigned high = 0, low = 0;
    int read =
        sscanf(text.data(), "%64s %llu %u %u %259[^\r\n]", expected.sha256, &bytes, &high, &low, expected.path) == 5;
    FUZZ_CHECK(parseCacheLine(text.data(), &line) == read);
    // Equal strings are terminated within their fields too.
    FUZZ_CHECK(!read || (!strcmp(line.sha256, expected.sha256) && !strcmp(line.path, expected.path) &&
                         line.size == bytes && line.writeTime.high == high && line.writeTime.low == low));
    return 0;
}
