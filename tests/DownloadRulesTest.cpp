#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "update/Download.h"
#include "update/Failure.h"
#include "update/FolderListing.h"
#include "update/Http.h"
#include "update/PathSet.h"

namespace {

std::string fileUrl(const std::string& base, const std::string& path) {
    char url[FILE_URL_SIZE];
    memset(url, '#', sizeof(url));
    buildFileUrl(url, base.c_str(), path.c_str());
    return url;
}

TEST(FileUrl, ConvertsBackslashesAndSpacesOnly) {
    EXPECT_EQ("http://127.0.0.1:8000/folder/my%20file.bin", fileUrl("http://127.0.0.1:8000/", "folder\\my file.bin"));
    // Nothing else is escaped: the server sees these bytes as they are.
    EXPECT_EQ("https://h.invalid/100%/x#y?z&\xe9", fileUrl("https://h.invalid/", "100%\\x#y?z&\xe9"));
}

TEST(FileUrl, StopsGrowingPastCharacter1019) {
    std::string base = "https://h.invalid/";
    std::string filler(1019 - base.size(), 'a');  // the URL reaches exactly 1,019
    // The character that takes it past 1,019 still goes in, and nothing after it.
    EXPECT_EQ(base + filler + "b", fileUrl(base, filler + "bcd"));
    EXPECT_EQ(base + filler + "%20", fileUrl(base, filler + " cd"));
    // A base that is already too long is cut and gets no path at all.
    EXPECT_EQ(std::string(1023, 'u'), fileUrl(std::string(1100, 'u'), "x"));
}

TEST(DownloadProgress, StaysBelowFullWhateverTheSizesClaim) {
    const struct {
        uint64_t done, total;
        int32_t permille;
    } cases[] = {{10485760, 10485760, 999},  // 25 files of 10 MiB in all: 10,240,000 / 10,241
                 {0, 0, 0},                  // files of size 0
                 {UINT64_MAX, UINT64_MAX, 999},
                 {UINT64_MAX, 4398046510080ull, 999},
                 {4398046510080ull / 2, 4398046510080ull, 499},
                 {0, UINT64_MAX, 0}};
    for (const auto& c : cases) EXPECT_EQ(c.permille, downloadProgressPermille(c.done, c.total)) << c.done;
    EXPECT_EQ(INT32_MAX, wholeMebibytes(UINT64_MAX));
    EXPECT_EQ(UINT64_MAX, addSaturating(UINT64_MAX - 1, 18446744073709551615ull));
}

TEST(HttpHeaders, ReadOnlyWhatTheyExactlySay) {
    uint64_t length = 7, first = 0, last = 0, total = 0;
    EXPECT_TRUE(parseContentLength("4000000000", &length));
    EXPECT_EQ(4000000000u, length);
    for (const char* bad : {"", "-5", "12 ", "0x10", "18446744073709551616"}) {
        EXPECT_FALSE(parseContentLength(bad, &length)) << bad;
    }
    ASSERT_TRUE(parseContentRange("bytes 100-199/200", &first, &last, &total));
    EXPECT_EQ(100u, first);
    EXPECT_EQ(200u, total);
    for (const char* bad : {"bytes 100-99/200", "bytes 0-200/200", "bytes */200", "bytes=0-1/2", "bytes 1-2/3x"}) {
        EXPECT_FALSE(parseContentRange(bad, &first, &last, &total)) << bad;
    }
    const struct {
        const char* text;
        int32_t seconds;
    } retryAfter[] = {
        {"7", 7}, {" 0 ", 0}, {"31", 30}, {"99999999999999999999", 30}, {"Wed, 21 Oct 2026 07:28:00 GMT", 30},
        {"", -1}};
    for (const auto& r : retryAfter) EXPECT_EQ(r.seconds, parseRetryAfter(r.text)) << r.text;
}

// Reads at the given times (ms) each adding bytes; returns when the rule gave up.
int32_t slowAt(std::initializer_list<std::pair<uint32_t, uint32_t>> reads) {
    HttpRequest request = {};
    keepsMinimumRate(&request, 0, 60000, 61440);
    for (auto read : reads) {
        request.received += read.second;
        if (!keepsMinimumRate(&request, read.first, 60000, 61440)) return (int32_t)read.first;
    }
    return -1;
}

TEST(RateRule, EndsATransferBelowOneKibibyteASecondOverAWindow) {
    // clang-format off
    EXPECT_EQ(60000, slowAt({{10000, 1}, {20000, 1}, {30000, 1}, {40000, 1}, {50000, 1}, {60000, 1}, {70000, 1}}));
    // Fast enough on average, even with a long silence in between.
    EXPECT_EQ(-1, slowAt({{1000, 100000}, {29000, 1}, {59000, 1}, {61000, 1}, {65000, 80000}, {125000, 61440}}));
    // A quick start does not excuse a later slow minute.
    EXPECT_EQ(120000, slowAt({{1000, 1 << 20}, {20000, 1}, {40000, 1}, {60000, 1}, {80000, 1}, {100000, 1},
                              {110000, 1}, {120000, 1}, {130000, 1}}));
    // clang-format on
    // Time that the launcher's speed limit held the reads back is not the server's.
    HttpRequest request = {};
    keepsMinimumRate(&request, 0, 60000, 61440);
    for (uint32_t t = 10000; t <= 130000; t += 10000) {
        excludeFromRateWindow(&request, 9000);
        request.received += 6144;
        EXPECT_TRUE(keepsMinimumRate(&request, t, 60000, 61440)) << t;
    }
}

TEST(Failures, OnlyPassingOnesAreTriedAgain) {
    // clang-format off
    const struct {
        int32_t reason, status;
        int passing, unreachable;
    } cases[] = {
        {FAIL_REFUSED, 0, 1, 1},      {FAIL_TIMEOUT, 0, 1, 1},      {FAIL_DROPPED, 0, 1, 0},
        {FAIL_CUT, 200, 1, 0},        {FAIL_SLOW, 200, 1, 0},       {FAIL_CONNECT, 0, 0, 0},
        {FAIL_HTTP_STATUS, 503, 1, 0}, {FAIL_HTTP_STATUS, 429, 1, 0}, {FAIL_HTTP_STATUS, 408, 1, 0},
        {FAIL_HTTP_STATUS, 404, 0, 0}, {FAIL_HTTP_STATUS, 403, 0, 0}, {FAIL_HTTP_STATUS, 501, 0, 0},
        {FAIL_DIGEST, 200, 0, 0},     {FAIL_LENGTH, 200, 0, 0},     {FAIL_IN_USE, 0, 0, 0},
        {FAIL_DISK_FULL, 0, 0, 0}
    };
    // clang-format on
    for (const auto& c : cases) {
        Failure f = {c.reason, 0, c.status, -1, 0, 0};
        EXPECT_EQ(c.passing, isPassingFailure(&f)) << failureCode(c.reason) << " " << c.status;
        EXPECT_EQ(c.unreachable, isUnreachable(&f)) << failureCode(c.reason);
        EXPECT_EQ(c.passing || c.reason == FAIL_DISK_FULL, keepsWhatArrived(&f)) << failureCode(c.reason);
    }
    Failure asked = {FAIL_HTTP_STATUS, 0, 503, 9, 0, 0};  // the server's Retry-After wins
    EXPECT_EQ(9, retryPauseUnits(2, &asked));
}

TEST(PathSet, KeepsTheFirstOfEachPathAsWindowsReadsIt) {
    PathSet set = {};
    for (const char* path : {"data\\Map.bin", "data\\map.bin2", "caf\xc9", "caf\xe9"})
        EXPECT_EQ(1, addPathOnce(&set, path));
    for (const char* path : {"DATA\\map.BIN", "data/map.bin", "CAF\xc9"}) EXPECT_EQ(0, addPathOnce(&set, path));
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(1, addPathOnce(&set, ("f" + std::to_string(i)).c_str()));  // grows
    for (int i = 0; i < 3000; i += 7) ASSERT_EQ(0, addPathOnce(&set, ("F" + std::to_string(i)).c_str()));
    EXPECT_EQ(0, addPathOnce(&set, "Data/Map.bin"));
    freePathSet(&set);
}

TEST(FolderListing, FindsNamesAsWindowsComparesThemAndEachFolderOnce) {
    FolderListing listing = {};
    for (int i = 0; i < 300; ++i) {
        ListedFile file = {(uint64_t)i, {(uint32_t)i, 0}, 0};
        ASSERT_TRUE(addListedFile(&listing, ("Name" + std::to_string(i) + ".BIN").c_str(), &file));
    }
    finishListing(&listing);
    for (int i = 0; i < 300; i += 37) {
        const ListedFile* found = findListedFile(&listing, ("name" + std::to_string(i) + ".bin").c_str());
        ASSERT_NE(nullptr, found) << i;
        EXPECT_EQ((uint64_t)i, found->size);
    }
    EXPECT_EQ(nullptr, findListedFile(&listing, "name300.bin"));
    EXPECT_EQ(nullptr, findListedFile(&listing, "name1.bi"));
    freeListing(&listing);

    FolderMap map = {};
    FolderState* data = folderStateFor(&map, "data\\x.bin", 4);
    for (int i = 0; i < 1000; ++i) {
        std::string folder = "f" + std::to_string(i);
        ASSERT_NE(nullptr, folderStateFor(&map, folder.c_str(), folder.size()));
    }
    EXPECT_EQ(data, folderStateFor(&map, "data", 4));
    freeFolderMap(&map);
}

}  // namespace
