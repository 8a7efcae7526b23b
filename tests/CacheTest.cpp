#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <tuple>

#include "shell/LauncherState.h"
#include "tests/TestFiles.h"
#include "update/Cache.h"

namespace {

#ifdef _WIN32
const char* const NEWLINE = "\r\n";  // text mode on Windows
#else
const char* const NEWLINE = "\n";
#endif

const std::string DIGEST_A(64, 'a');
const std::string DIGEST_B(64, 'b');

struct CacheTest : ::testing::Test {
    std::string dir = makeTempDir();
    std::string file = joinPath(dir, "OrvelLauncher.cache");

    void SetUp() override { resetCache(); }
    void TearDown() override {
        gCacheReallocate = realloc;
        resetCache();
    }
    static void resetCache() {
        LauncherState& s = launcherState;
        free(s.cacheEntries);
        free(s.cacheIndex.slots);
        freeCacheDigestIndex();
        s.cacheEntries = nullptr;
        s.cacheIndex = CacheIndex{};
        s.cacheCount = s.cacheCapacity = 0;
    }
    static CacheEntry* add(const std::string& path, uint64_t size, uint32_t high, uint32_t low,
                           const std::string& digest) {
        CacheEntry* entry = addCacheEntry(path.c_str());
        if (!entry) return nullptr;
        entry->size = size;
        entry->writeTime.high = high;
        entry->writeTime.low = low;
        strcpy(entry->sha256, digest.c_str());
        return entry;
    }
};

// One line per record, the high half of the time before the low one; dropped
// records and files of size 0 are not saved, and dropped ones stay in memory.
TEST_F(CacheTest, SavesWhatItKeepsAndReadsItBack) {
    add("data\\my file.bin", 1234, 30000000u, 4000000000u, DIGEST_A);
    add("dropped.txt", 10, 1, 2, DIGEST_A);
    add("empty.txt", 0, 1, 2, DIGEST_A);
    add("main.exe", 18446744073709551615ull, 0, 1, DIGEST_B);
    dropCacheEntry("DROPPED.TXT");
    dropCacheEntry("not-there.txt");
    EXPECT_EQ(0u, findCacheEntry("dropped.txt")->size);
    saveCacheFile(file.c_str());
    EXPECT_EQ(DIGEST_A + " 1234 30000000 4000000000 data\\my file.bin" + NEWLINE + DIGEST_B +
                  " 18446744073709551615 0 1 main.exe" + NEWLINE,
              readFile(file));
    resetCache();
    loadCacheFile(file.c_str());
    ASSERT_EQ(2, launcherState.cacheCount);
    const CacheEntry* entry = findCacheEntry("data\\my file.bin");
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(std::make_tuple(30000000u, 4000000000u, (uint64_t)1234, DIGEST_A),
              std::make_tuple(entry->writeTime.high, entry->writeTime.low, entry->size, std::string(entry->sha256)));
}

TEST_F(CacheTest, LoadsWhatTheLineFormatReads) {
    // LF and CR LF endings; blanks between fields; bytes above 127 and tabs in
    // paths; short digests; extra words kept in the path; a line longer than
    // the old 387-character read parsed in pieces; broken lines skipped.
    writeFile(file, DIGEST_A + " 5 1 2 a.txt\r\n" + DIGEST_B + "   6  3  4   b b.txt\n" + DIGEST_A +
                        " 7 1 2 caf\xe9\\tab\there.txt extra words\n" + "abc 8 4294967295 0 short.txt\n" + DIGEST_A +
                        " 5 1 2\n" + "\n" + DIGEST_A + " x 1 2 nan.txt\n" + std::string(387, 'x') + DIGEST_A +
                        " 9 1 2 tail.txt");
    loadCacheFile(file.c_str());
    ASSERT_EQ(5, launcherState.cacheCount);
    const CacheEntry* e = launcherState.cacheEntries;
    EXPECT_STREQ("a.txt", e[0].path);
    EXPECT_STREQ("b b.txt", e[1].path);
    EXPECT_EQ(6u, e[1].size);
    EXPECT_EQ(3u, e[1].writeTime.high);
    EXPECT_EQ(4u, e[1].writeTime.low);
    EXPECT_STREQ("caf\xe9\\tab\there.txt extra words", e[2].path);
    EXPECT_STREQ("abc", e[3].sha256);  // the digest's length is not checked
    EXPECT_EQ(4294967295u, e[3].writeTime.high);
    EXPECT_STREQ("tail.txt", e[4].path);
}

// Paths fold as everywhere else (DownloadRulesTest.cpp, PathFolding).
TEST_F(CacheTest, LookupFindsTheFirstRecordOfAPath) {
    add("Data\\Map.bin", 1, 0, 0, DIGEST_A);
    EXPECT_EQ(nullptr, findCacheEntry("Data\\Map.bi"));
    EXPECT_EQ(nullptr, findCacheEntry(""));

    // A file can list a path twice: the first record in array order wins.
    writeFile(file, DIGEST_A + " 1 0 0 twice.txt\n" + DIGEST_B + " 2 0 0 TWICE.txt\n");
    loadCacheFile(file.c_str());
    ASSERT_EQ(2, launcherState.cacheCount);
    EXPECT_EQ(launcherState.cacheEntries + 0, findCacheEntry("Twice.txt"));
    dropCacheEntry("twice.TXT");
    EXPECT_EQ(0u, launcherState.cacheEntries[0].size);
    EXPECT_EQ(2u, launcherState.cacheEntries[1].size);

    // By digest: every saved record of it in array order, in either case; none of a dropped one.
    add("moved.bin", 3, 0, 0, std::string(64, 'B'));
    for (int i = 0; i < 40; ++i) add("other" + std::to_string(i), 4, 0, 0, DIGEST_B.substr(0, 60) + "1234");
    ASSERT_TRUE(indexCacheDigests());
    for (const auto& [digest, paths] : {std::pair<std::string, std::string>{DIGEST_B, "TWICE.txt moved.bin "},
                                        {DIGEST_A, ""},
                                        {std::string(64, 'c'), ""}}) {
        std::string found;
        uint32_t cursor = 0;
        for (const CacheEntry* e; (e = nextCacheEntryWithDigest(digest.c_str(), &cursor));)
            found += e->path + std::string(" ");
        EXPECT_EQ(paths, found) << digest;
    }
}

TEST_F(CacheTest, FailedGrowthLosesNothing) {
    // Fill the array exactly, then make the next growth fail at each allocation.
    for (int i = 0; i == 0 || launcherState.cacheCount < launcherState.cacheCapacity; ++i) {
        ASSERT_NE(nullptr, add("f" + std::to_string(i), i + 1, 0, i, DIGEST_A));
    }
    int32_t count = launcherState.cacheCount;
    std::string before(reinterpret_cast<char*>(launcherState.cacheEntries), count * sizeof(CacheEntry));
    for (int failAt = 0; failAt < 2; ++failAt) {
        static int calls;
        static int failingCall;
        calls = 0;
        failingCall = failAt;  // the index first, then the array
        gCacheReallocate = [](void* block, size_t size) -> void* {
            return calls++ == failingCall ? nullptr : realloc(block, size);
        };
        EXPECT_EQ(nullptr, addCacheEntry("one too many"));
        gCacheReallocate = realloc;
        EXPECT_EQ(count, launcherState.cacheCount);
        EXPECT_EQ(before, std::string(reinterpret_cast<char*>(launcherState.cacheEntries), before.size()));
        EXPECT_EQ(launcherState.cacheEntries + count - 1, findCacheEntry(("F" + std::to_string(count - 1)).c_str()));
        EXPECT_EQ(nullptr, findCacheEntry("one too many"));
    }
    // Once memory is there again, appending works and the index still holds.
    ASSERT_NE(nullptr, add("one more", 1, 0, 0, DIGEST_B));
    for (int i = 0; i < count; i += 97) {
        EXPECT_EQ(launcherState.cacheEntries + i, findCacheEntry(("F" + std::to_string(i)).c_str()));
    }
}

TEST_F(CacheTest, RepeatedLoadAndSaveKeepCountAndFileStable) {
    for (int i = 0; i < 50; ++i) add("file" + std::to_string(i), 10 + i, 1, i, DIGEST_A);
    saveCacheFile(file.c_str());
    std::string first = readFile(file);
    for (int run = 0; run < 3; ++run) {
        // A later run of the same process starts from the file, not on top of memory.
        loadCacheFile(file.c_str());
        EXPECT_EQ(50, launcherState.cacheCount);
        EXPECT_EQ(launcherState.cacheEntries + 49, findCacheEntry("FILE49"));
        saveCacheFile(file.c_str());
        EXPECT_EQ(first, readFile(file));
    }
    // A file that cannot be opened keeps the records in memory.
    loadCacheFile(joinPath(dir, "no-such.cache").c_str());
    EXPECT_EQ(50, launcherState.cacheCount);
}

}  // namespace
