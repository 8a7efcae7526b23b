// The download speed limit (MaxDownloadKBps): one token bucket that every
// worker of a run draws from before each read, so that all together stay at
// the limit. A read may take at most a 64th of a second's worth (512 bytes at
// least), and the bucket holds at most a 32nd (or one read): over any window
// the workers read at most the bucket and one read each more than the limit
// allows, a sixth of a second's worth for 8 workers from 32 KB a second on,
// and counted from the start of a run never more (the bucket starts empty).
#pragma once

#include <stdint.h>

struct TokenBucket {
    uint64_t rate;        // bytes a second
    uint64_t milliBytes;  // what may be read now, in thousandths of a byte
    uint64_t capacity;    // in bytes
    uint32_t grant;       // the most one read may take
    uint32_t tick;        // when milliBytes was last filled
};

// An empty bucket for bytesPerSecond (at least 1), at time now (milliseconds).
void bucketStart(TokenBucket* bucket, uint64_t bytesPerSecond, uint32_t now);

// The bytes one read may take now, at most wanted; they leave the bucket. 0
// when the bucket holds too little yet, with *waitMs until it will.
uint32_t bucketTake(TokenBucket* bucket, uint32_t now, uint32_t wanted, uint32_t* waitMs);

// What a read took and did not receive goes back.
void bucketGiveBack(TokenBucket* bucket, uint32_t unused);

#ifdef _WIN32
#include <windows.h>

struct HttpRequest;

// The run's limit, shared by its workers.
struct Throttle {
    SRWLOCK lock;
    TokenBucket bucket;
};

// Starts throttle for kilobytesPerSecond (of 1024 bytes) and returns it, or
// returns null for no limit (0).
Throttle* startThrottle(Throttle* throttle, int32_t kilobytesPerSecond);

// Waits until the limit lets one read of at most wanted bytes go ahead and
// returns its size (wanted at once without a limit). The wait is left out of
// the request's rate window: the rate judges the server, not the limit.
uint32_t throttleRead(Throttle* throttle, HttpRequest* request, uint32_t wanted);

// After the read: what it was allowed and did not receive.
void throttleUnused(Throttle* throttle, uint32_t bytes);
#endif
