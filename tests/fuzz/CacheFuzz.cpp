// The cache file's text as the loader reads it, and one line alone: every
// record terminated, and every record found again by its path.
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "tests/fuzz/Fuzz.h"
#include "update/Cache.h"

static void checkRecord(const CacheEntry& entry) {
    FUZZ_CHECK(memchr(entry.sha256, 0, sizeof(entry.sha256)) && memchr(entry.path, 0, sizeof(entry.path)));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loader takes the file's bytes as they are, without a terminator.
    std::vector<char> file(data, data + size);
    loadCacheText(file.data(), file.size());
    const LauncherState& s = launcherState;
    FUZZ_CHECK(s.cacheCount >= 0 && s.cacheCount <= s.cacheCapacity);
    for (int32_t i = 0; i < s.cacheCount; ++i) {
        checkRecord(s.cacheEntries[i]);
        const CacheEntry* found = findCacheEntry(s.cacheEntries[i].path);
        FUZZ_CHECK(found && found <= &s.cacheEntries[i] && equalsIgnoreCase(found->path, s.cacheEntries[i].path));
    }
    clearCache();  // keeps its storage: memory stays what the largest input needed

    CacheEntry line;
    std::vector<char> text = nextString(&data, &size, SIZE_MAX);
    if (parseCacheLine(text.data(), &line)) checkRecord(line);
    return 0;
}
