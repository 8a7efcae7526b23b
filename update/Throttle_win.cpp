#include "update/Http.h"
#include "update/Throttle.h"

Throttle* startThrottle(Throttle* throttle, int32_t kilobytesPerSecond) {
    if (kilobytesPerSecond <= 0) return nullptr;
    InitializeSRWLock(&throttle->lock);
    bucketStart(&throttle->bucket, (uint64_t)kilobytesPerSecond * 1024, GetTickCount());
    return throttle;
}

uint32_t throttleRead(Throttle* throttle, HttpRequest* request, uint32_t wanted) {
    if (!throttle) return wanted;
    DWORD started = GetTickCount();
    for (;;) {
        uint32_t waitMs = 0;
        AcquireSRWLockExclusive(&throttle->lock);
        uint32_t allowed = bucketTake(&throttle->bucket, GetTickCount(), wanted, &waitMs);
        ReleaseSRWLockExclusive(&throttle->lock);
        if (allowed > 0) {
            excludeFromRateWindow(request, GetTickCount() - started);
            return allowed;
        }
        Sleep(waitMs);
    }
}

void throttleUnused(Throttle* throttle, uint32_t bytes) {
    if (!throttle || bytes == 0) return;
    AcquireSRWLockExclusive(&throttle->lock);
    bucketGiveBack(&throttle->bucket, bytes);
    ReleaseSRWLockExclusive(&throttle->lock);
}
