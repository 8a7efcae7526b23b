#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

#include <string>

#include "update/Download.h"
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
    EXPECT_EQ("https://cdn.example.invalid/a/b%20%20c/d/e.txt", fileUrl("https://cdn.example.invalid/", "a\\b  c/d\\e.txt"));
    // Nothing else is escaped: the server sees these bytes as they are.
    EXPECT_EQ("https://h.invalid/100%/x#y?z&\xe9", fileUrl("https://h.invalid/", "100%\\x#y?z&\xe9"));
}

TEST(FileUrl, StopsGrowingPastCharacter1019) {
    std::string base = "https://h.invalid/";
    std::string filler(1019 - base.size(), 'a');  // the URL reaches exactly 1,019
    // The character that takes it past 1,019 still goes in, and nothing after it.
    EXPECT_EQ(base + filler + "b", fileUrl(base, filler + "bcd"));
    EXPECT_EQ(1020u, fileUrl(base, std::string(2000, 'p')).size());
    // A space goes in as all three characters of "%20".
    EXPECT_EQ(base + filler + "%20", fileUrl(base, filler + " cd"));
    EXPECT_EQ(base + filler.substr(1) + "b%20", fileUrl(base, filler.substr(1) + "b cd"));
    // A base that is already too long is cut and gets no path at all.
    EXPECT_EQ(std::string(1023, 'u'), fileUrl(std::string(1100, 'u'), "x"));
}

TEST(JobPaths, RefusePathsThatDoNotFitWhole) {
    char target[LOCAL_PATH_SIZE], part[LOCAL_PATH_SIZE];
    ASSERT_EQ(1, buildJobPaths("C:\\Games\\Orvel", "data\\a b.bin", target, part));
    EXPECT_STREQ("C:\\Games\\Orvel\\data\\a b.bin", target);
    EXPECT_STREQ("C:\\Games\\Orvel\\data\\a b.bin.part", part);

    std::string dir = "C:\\" + std::string(240, 'd');  // 243 characters
    std::string fits(259 - 244 - 5, 'f');               // the ".part" path is exactly 259
    ASSERT_EQ(1, buildJobPaths(dir.c_str(), fits.c_str(), target, part));
    EXPECT_EQ(259u, strlen(part));
    // One more character: the ".part" path would be cut and could even equal
    // the target, so the job is refused.
    EXPECT_EQ(0, buildJobPaths(dir.c_str(), (fits + "f").c_str(), target, part));
    EXPECT_EQ(0, buildJobPaths(dir.c_str(), std::string(40, 'f').c_str(), target, part));

    // The checked file's own path: 259 characters fit, 260 do not.
    char local[LOCAL_PATH_SIZE];
    ASSERT_EQ(1, buildLocalPath(local, dir.c_str(), std::string(259 - 244, 'g').c_str()));
    EXPECT_EQ(dir + "\\" + std::string(15, 'g'), local);
    EXPECT_EQ(0, buildLocalPath(local, dir.c_str(), std::string(16, 'g').c_str()));
}

TEST(DownloadProgress, CountsWholeKibibytesAndNeverShowsFull) {
    EXPECT_EQ(999, downloadProgressPermille(10485760, 10485760));  // 10,240,000 / 10,241
    EXPECT_EQ(0, downloadProgressPermille(0, 10485760));
    EXPECT_EQ(0, downloadProgressPermille(1023, 2047));  // below one KiB of progress
    EXPECT_EQ(500, downloadProgressPermille(1024 * 1001, 1024 * 2001));
    EXPECT_EQ(0, downloadProgressPermille(0, 0));  // jobs of size 0
    EXPECT_EQ(999, downloadProgressPermille(4294967296ll * 2, 4294967296ull * 2));
}

TEST(DownloadProgress, ReportsEveryTenthJobAndTheLast) {
    int reports[30] = {};
    for (int f = 1; f <= 25; ++f) reports[f] = shouldReportProgress(f, 25);
    for (int f = 1; f <= 25; ++f) EXPECT_EQ(f == 10 || f == 20 || f == 25, reports[f]) << f;
    EXPECT_TRUE(shouldReportProgress(1, 1));
    EXPECT_FALSE(shouldReportProgress(9, 30));
}

TEST(ResponseBuffer, GrowsByDoublingWhenLessThan4KiBIsFree) {
    EXPECT_EQ(65536u, responseCapacityAfterRead(65536, 61440));   // exactly 4,096 free
    EXPECT_EQ(131072u, responseCapacityAfterRead(65536, 61441));
    EXPECT_EQ(131072u, responseCapacityAfterRead(65536, 65535));
    EXPECT_EQ(4294967296ull, responseCapacityAfterRead(2147483648ull, 2147483648ull - 1));
    // A body that would need more than a 32-bit length cannot be held.
    EXPECT_EQ(0u, responseCapacityAfterRead(4294967296ull, 4294967296ull - 100));
    EXPECT_EQ(4294967296ull, responseCapacityAfterRead(4294967296ull, 4294967296ull - 5000));
}

TEST(ResponseBuffer, ADeclaredLengthGetsTheCapacityTheDoublingsWouldReach) {
    EXPECT_EQ(65536u, responseCapacityForLength(0));
    EXPECT_EQ(65536u, responseCapacityForLength(61440));
    EXPECT_EQ(131072u, responseCapacityForLength(61441));
    // A body that fills a doubling exactly leaves no room: one more step.
    EXPECT_EQ(536870912u, responseCapacityForLength(268435456));
    EXPECT_EQ(4294967296ull, responseCapacityForLength(4294967296ull - 4096));
    EXPECT_EQ(0u, responseCapacityForLength(4294967296ull - 4095));  // past a 32-bit length
    // The same as reading the body in pieces of any size.
    for (uint64_t length : {1000ull, 61441ull, 200000ull, 3000000ull}) {
        uint64_t capacity = HTTP_FIRST_CAPACITY, received = 0;
        while (received < length) {
            received += std::min<uint64_t>(capacity - received - 1, length - received);
            capacity = responseCapacityAfterRead(capacity, received);
        }
        EXPECT_EQ(capacity, responseCapacityForLength(length)) << length;
    }
}

TEST(ResponseBuffer, ContentLengthIsPlainDecimalOrNothing) {
    EXPECT_EQ(0u, parseContentLength("0"));
    EXPECT_EQ(268435456u, parseContentLength("268435456"));
    EXPECT_EQ(18446744073709551615ull, parseContentLength("18446744073709551615"));
    EXPECT_EQ(0u, parseContentLength("18446744073709551616"));
    EXPECT_EQ(0u, parseContentLength(""));
    EXPECT_EQ(0u, parseContentLength("-5"));
    EXPECT_EQ(0u, parseContentLength("12 "));
    EXPECT_EQ(0u, parseContentLength("0x10"));
}

TEST(PathSet, KeepsTheFirstOfEachPathIgnoringAsciiCase) {
    PathSet set = {};
    EXPECT_EQ(1, addPathOnce(&set, "data\\Map.bin"));
    EXPECT_EQ(0, addPathOnce(&set, "DATA\\map.BIN"));
    EXPECT_EQ(1, addPathOnce(&set, "data\\map.bin2"));
    EXPECT_EQ(1, addPathOnce(&set, "caf\xc9"));
    EXPECT_EQ(1, addPathOnce(&set, "caf\xe9"));  // only A-Z fold
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(1, addPathOnce(&set, ("f" + std::to_string(i)).c_str()));
    for (int i = 0; i < 20000; i += 7) ASSERT_EQ(0, addPathOnce(&set, ("F" + std::to_string(i)).c_str()));
    EXPECT_EQ(20004u, set.count);
    freePathSet(&set);
    EXPECT_EQ(1, addPathOnce(&set, "data\\Map.bin"));
    freePathSet(&set);
}

}  // namespace
