#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "update/DiskSpace.h"
#include "update/Throttle.h"

namespace {

// Eight workers draw from one bucket on a simulated clock; each read takes
// 3 ms and brings half of what it may take, or all of it.
TEST(Throttle, WorkersTogetherStayAtTheLimitWithoutBursts) {
    for (uint64_t rate : {1024ull, 512ull * 1024, 50ull << 20}) {
        TokenBucket bucket;
        const uint32_t start = UINT32_MAX - 5000;  // across the wrap of the clock
        bucketStart(&bucket, rate, start);
        std::vector<uint64_t> sum(10001);  // bytes read before each millisecond
        uint32_t busyUntil[8] = {};
        for (uint32_t ms = 0; ms < 10000; ++ms) {
            sum[ms + 1] = sum[ms];
            for (int w = 0; w < 8; ++w) {
                uint32_t waitMs = 0,
                         allowed = ms < busyUntil[w] ? 0 : bucketTake(&bucket, start + ms, 1 << 18, &waitMs);
                if (allowed == 0) {
                    if (ms >= busyUntil[w]) busyUntil[w] = ms + waitMs;
                    continue;
                }
                ASSERT_LE(allowed, std::max<uint64_t>(rate / 64, 512));
                uint32_t got = w % 2 ? allowed : allowed / 2;
                bucketGiveBack(&bucket, allowed - got);
                sum[ms + 1] += got;
                busyUntil[w] = ms + 3;
            }
            // From the start never more than the limit, over any 3 s little more.
            ASSERT_LE(sum[ms + 1], rate * (ms + 1) / 1000 + 512) << rate << " at " << ms;
            if (ms >= 3000) {
                ASSERT_LE(sum[ms + 1] - sum[ms - 2999], rate * 3 + rate / 6 + 1024) << rate << " at " << ms;
            }
        }
        // Nothing lost but the first grant's wait.
        EXPECT_GE(sum[10000], rate * 10 * 97 / 100 - 512) << rate;
    }
}

TEST(DiskSpace, RefusesOnlyWhatSurelyDoesNotFit) {
    const uint64_t M = 1 << 20, ALL = UINT64_MAX;
    const struct {
        std::vector<DiskJob> jobs;  // size, old file, part
        uint64_t volume, least, most;
    } cases[] = {
        // New, replaced by one of its size, resumed from half: grows 3.5, needs 5.5 at once.
        {{{3 * M, 0, 0}, {2 * M, 2 * M, 0}, {M, 0, M / 2}}, 0, 7 * M / 2, 11 * M / 2},
        // One file's part beside its old one, after another has shrunk.
        {{{10 * M, 20 * M, 0}, {15 * M, 0, 0}}, 0, 10 * M, 25 * M},
        {{{5 * M, 0, 8 * M}}, 0, 0, 0},                 // a part longer than its file starts over
        {{{2000, 0, 0}, {100, 0, 0}}, 1000, 100, 100},  // larger than the volume: left out
        {{{2000, 0, 0}}, 0, 2000, 2000},                // the volume not known
        {{{ALL, 0, 0}, {ALL, 0, 0}}, 0, ALL, ALL},
    };
    for (const auto& c : cases) {
        DiskNeed need = estimateDiskNeed(c.jobs.data(), (int32_t)c.jobs.size(), c.volume);
        EXPECT_EQ(c.least, need.least) << c.jobs[0].size;
        EXPECT_EQ(c.most, need.most) << c.jobs[0].size;
    }
    const struct {
        uint64_t bytes;
        int32_t mebibytes;
    } asks[] = {{0, 1}, {1, 1}, {M, 1}, {M + 1, 2}, {ALL, INT32_MAX}};
    for (const auto& a : asks) EXPECT_EQ(a.mebibytes, mebibytesToFree(a.bytes)) << a.bytes;
    EXPECT_EQ(1, isDiskFullError(112) && isDiskFullError(39));
    EXPECT_EQ(0, isDiskFullError(5));
}

}  // namespace
