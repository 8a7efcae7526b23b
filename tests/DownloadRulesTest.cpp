#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include "shell/LauncherState.h"
#include "update/Cache.h"
#include "update/ClientPath.h"
#include "update/Download.h"
#include "update/Failure.h"
#include "update/FolderListing.h"
#include "update/Http.h"
#include "update/PathSet.h"

namespace {

std::string fileUrl(const std::string& base, const std::string& path) {
    char url[FILE_URL_SIZE];
    memset(url, '#', sizeof(url));
    if (buildFileUrl(url, base.c_str(), path.c_str())) return url;
    return url[0] ? "<cut>" : "<none>";
}

TEST(FileUrl, EscapesEveryByteButTheUnreservedOnesAndNeverCutsAnEscape) {
    const std::string base = "http://127.0.0.1:8000/", fill(1023 - base.size() - 3, 'a');
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {base, "data\\my 100%/a#b?c&d=+[]{}';\"\xe9~._-", base + "data/my%20100%25/a%23b%3Fc%26d%3D%2B%5B%5D%7B%7D%27%3B%22%E9~._-"},
        // 1,023 characters fit; a URL one longer is none at all, never cut.
        {base, fill + "%", base + fill + "%25"}, {base, fill + "a%", "<none>"}, {base, fill + "abcd", "<none>"},
        {std::string(1100, 'u'), "x", "<none>"}};
    // clang-format on
    for (const auto& [base, path, url] : cases) EXPECT_EQ(url, fileUrl(base, path)) << path;
}

// The ANSI CreateDirectoryA makes folders of at most 247 characters.
TEST(JobPaths, AreRefusedWhenWindowsCouldNotMakeTheFileOrItsFolder) {
    const std::string dir = "C:\\" + std::string(37, 'c');  // 40 characters
    // clang-format off
    const std::pair<std::string, bool> cases[] = {
        {std::string(206, 'f') + "\\a.bin", true}, {std::string(207, 'f') + "\\a.bin", false},  // folders of 247, 248
        {std::string(100, 'f') + "/" + std::string(106, 'g') + "/b", false},
        {std::string(213, 'n'), true}, {std::string(214, 'n'), false}};  // no folder: 254 characters and ".part"
    // clang-format on
    char target[LOCAL_PATH_SIZE], part[LOCAL_PATH_SIZE];
    for (const auto& [path, built] : cases) {
        EXPECT_EQ(built, (bool)buildJobPaths(dir.c_str(), path.c_str(), target, part)) << path.size();
    }
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
    // The answer to "bytes=100-199" of a 1000-byte file, and what is not it.
    const struct {
        int32_t status, hasRange;
        uint64_t first, last, total;
        int32_t hasLength;
        uint64_t length;
        int answers;
    } ranges[] = {{206, 1, 100, 199, 1000, 1, 100, 1}, {206, 1, 100, 199, 1000, 0, 0, 1},
                  {200, 0, 0, 0, 0, 1, 1000, 0},       {206, 0, 0, 0, 0, 1, 100, 0},
                  {206, 1, 100, 999, 1000, 1, 900, 0}, {206, 1, 101, 200, 1000, 1, 100, 0},
                  {206, 1, 100, 199, 1001, 1, 100, 0}, {206, 1, 100, 199, 1000, 1, 99, 0}};
    for (const auto& r : ranges) {
        HttpRequest request = {};
        request.status = r.status, request.hasRange = r.hasRange, request.rangeFirst = r.first;
        request.rangeLast = r.last, request.rangeTotal = r.total, request.hasLength = r.hasLength;
        request.length = r.length;
        EXPECT_EQ(r.answers, answersRange(&request, 100, 199, 1000)) << r.first << "-" << r.last << "/" << r.total;
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

// The four places that compare client paths, holding the same paths: the
// path set, the cache's index, a folder listing and the folders of a check.
struct PathPlaces {
    PathSet set = {};
    FolderMap folders = {};
    FolderListing listing = {};
    explicit PathPlaces(const std::vector<std::string>& paths) {
        clearCache();
        launcherState.cacheIndex.probes = 0;
        for (const std::string& path : paths) {
            ListedFile file = {path.size(), {}, 0};
            holding(path);  // adds it to the set and the folders
            addCacheEntry(path.c_str());
            addListedFile(&listing, path.c_str(), &file);
        }
        finishListing(&listing);
    }
    ~PathPlaces() {
        freePathSet(&set);
        freeFolderMap(&folders);
        freeListing(&listing);
        clearCache();
    }
    // How many places hold path already (a folder is found by the first bytes of a file's path).
    int holding(const std::string& path) {
        uint32_t folderCount = folders.count;
        folderStateFor(&folders, (path + "\\x").c_str(), path.size());
        return !addPathOnce(&set, path.c_str()) + (findCacheEntry(path.c_str()) != nullptr) +
               (findListedFile(&listing, path.c_str()) != nullptr) + (folders.count == folderCount);
    }
};

TEST(PathFolding, AllowsNoTwoJobsForOneFileAndNeverFoldsATrailByte) {
    static uint16_t pairs[65536];
    for (int i = 0; i < 65536; ++i) pairs[i] = (uint16_t)i;
    pairs[0x8281] = 0x8260;  // full-width a and A in code page 932
    PathFolding ascii = asciiPathFolding(), latin = ascii, japanese = ascii;
    latin.single[0xe9] = 0xc9;  // what the Windows side fills for code page 1252
    japanese.lead[0x82] = japanese.lead[0x83] = 1;
    japanese.pairs = pairs;
    const std::tuple<const PathFolding*, const char*, const char*, bool> cases[] = {
        {&ascii, "data\\Map.bin", "DATA/map.BIN", true},    {&ascii, "data\\Map.bin", "data\\Map.bi", false},
        {&latin, "caf\xe9.dat", "CAF\xc9.DAT", true},       {&latin, "caf\xe9", "cafe", false},
        {&japanese, "\x83\x41.bin", "\x83\x61.bin", false},  // trail bytes that look like A and a
        {&japanese, "\x82\x60.bin", "\x82\x81.BIN", true},  {&japanese, "x\x82", "X\x82", true}};
    for (const auto& [folding, a, b, same] : cases) {
        gPathFolding = *folding;
        PathPlaces places({a});
        EXPECT_EQ(same, (bool)sameClientPath(a, b)) << a;
        EXPECT_EQ(same ? 4 : 0, places.holding(b)) << a;
    }
    gPathFolding = ascii;
}

// Each pair takes FNV-1a, the sets' former hash, from one state to one same
// state, so the 8,192 paths made of either string of each pair all share one
// 32-bit hash: each new one once probed every earlier one.
TEST(PathFolding, PathsBuiltToCollideCostAFewProbesEach) {
    // From the third pair on, the same three pairs return to the same state.
    const char* const pairs[][2] = {
        {"gwzx", "16cd"}, {"yyao", "1kia"}, {"g3zx", "1pad"}, {"epvu", "33ea"}, {"zwfo", "2uja"}};
    std::vector<std::string> paths;
    for (uint32_t choice = 0; choice < 1u << 13; ++choice) {
        paths.emplace_back();
        for (int i = 0; i < 13; ++i) paths.back() += pairs[i < 2 ? i : 2 + (i - 2) % 3][choice >> i & 1];
    }
    uint32_t first = 2166136261u, last = first;  // FNV-1a of the first path and of the last
    for (size_t i = 0; i < paths[0].size(); ++i) first = (first ^ (unsigned char)paths[0][i]) * 16777619u;
    for (size_t i = 0; i < paths[0].size(); ++i) last = (last ^ (unsigned char)paths.back()[i]) * 16777619u;
    ASSERT_EQ(first, last);
    gPathHashKey[0] = 0x5eed;  // the launcher draws its key at start-up
    PathPlaces places(paths);
    for (const std::string& path : paths) ASSERT_EQ(4, places.holding(path)) << path;
    for (uint64_t probes : {places.set.probes, places.folders.probes, launcherState.cacheIndex.probes}) {
        EXPECT_LE(probes, 8 * paths.size());  // about 3 with a keyed hash, thousands with FNV-1a
    }
}

}  // namespace
