#include "update/Throttle.h"

// A bucket fills for at most a second at once: more it could not hold anyway.
enum { THROTTLE_FILL_LIMIT_MS = 1000, THROTTLE_SMALLEST_GRANT = 512 };

void bucketStart(TokenBucket* bucket, uint64_t bytesPerSecond, uint32_t now) {
    *bucket = TokenBucket{};
    bucket->rate = bytesPerSecond > 0 ? bytesPerSecond : 1;
    uint64_t grant = bucket->rate / 64;
    if (grant < THROTTLE_SMALLEST_GRANT) grant = THROTTLE_SMALLEST_GRANT;
    bucket->grant = grant > UINT32_MAX ? UINT32_MAX : (uint32_t)grant;
    bucket->capacity = bucket->rate / 32 > grant ? bucket->rate / 32 : grant;
    bucket->tick = now;
}

static void fill(TokenBucket* bucket, uint32_t now) {
    uint32_t elapsed = now - bucket->tick;
    // A reading older than the last (another thread's) adds nothing.
    if ((int32_t)elapsed < 0) return;
    if (elapsed > THROTTLE_FILL_LIMIT_MS) elapsed = THROTTLE_FILL_LIMIT_MS;
    bucket->tick = now;
    bucket->milliBytes += (uint64_t)elapsed * bucket->rate;
    if (bucket->milliBytes > bucket->capacity * 1000) bucket->milliBytes = bucket->capacity * 1000;
}

uint32_t bucketTake(TokenBucket* bucket, uint32_t now, uint32_t wanted, uint32_t* waitMs) {
    fill(bucket, now);
    uint32_t take = wanted < bucket->grant ? wanted : bucket->grant;
    uint64_t need = (uint64_t)take * 1000;
    if (bucket->milliBytes >= need) {
        bucket->milliBytes -= need;
        *waitMs = 0;
        return take;
    }
    uint64_t ms = (need - bucket->milliBytes + bucket->rate - 1) / bucket->rate;
    *waitMs = ms < 1 ? 1 : (uint32_t)ms;
    return 0;
}

void bucketGiveBack(TokenBucket* bucket, uint32_t unused) {
    bucket->milliBytes += (uint64_t)unused * 1000;
    if (bucket->milliBytes > bucket->capacity * 1000) bucket->milliBytes = bucket->capacity * 1000;
}
