#include <stdlib.h>

#include "update/Http.h"

static void* reallocateOrFree(void* block, size_t size) {
    if (size > 0) return realloc(block, size);
    free(block);
    return nullptr;
}

void* (*gHttpReallocate)(void* block, size_t size) = reallocateOrFree;
void (*gHttpReadObserver)(const void* wait, const void* buffer) = nullptr;

static const char* readNumber(const char* p, uint64_t* value) {
    if (*p < '0' || *p > '9') return nullptr;
    uint64_t result = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned digit = (unsigned)(*p - '0');
        if (result > (UINT64_MAX - digit) / 10) return nullptr;
        result = result * 10 + digit;
    }
    *value = result;
    return p;
}

int parseContentLength(const char* text, uint64_t* value) {
    const char* end = readNumber(text, value);
    return end && *end == 0;
}

int parseContentRange(const char* text, uint64_t* first, uint64_t* last, uint64_t* total) {
    const char* p = text;
    for (const char* unit = "bytes "; *unit; ++unit, ++p) {
        if (*p != *unit) return 0;
    }
    p = readNumber(p, first);
    if (!p || *p++ != '-') return 0;
    p = readNumber(p, last);
    if (!p || *p++ != '/') return 0;
    p = readNumber(p, total);
    return p && *p == 0 && *first <= *last && *last < *total;
}

int answersRange(const HttpRequest* request, uint64_t first, uint64_t last, uint64_t total) {
    return request->status == 206 && request->hasRange && request->rangeFirst == first && request->rangeLast == last &&
           request->rangeTotal == total && (!request->hasLength || request->length == last - first + 1);
}

int keepsMinimumRate(HttpRequest* request, uint32_t now, uint32_t windowMs, uint32_t minBytes) {
    uint32_t slotMs = windowMs / HTTP_RATE_SLOTS;
    if (slotMs == 0) slotMs = 1;
    int32_t newest = request->slotCount - 1;
    if (newest >= 0 && now - request->slotTick[newest % HTTP_RATE_SLOTS] < slotMs) return 1;
    // Once the ring is full its oldest slot began a whole window ago, or more.
    if (request->slotCount >= HTTP_RATE_SLOTS) {
        int32_t oldest = request->slotCount % HTTP_RATE_SLOTS;
        if (now - request->slotTick[oldest] >= windowMs && request->received - request->slotBytes[oldest] < minBytes) {
            return 0;
        }
    }
    int32_t slot = request->slotCount % HTTP_RATE_SLOTS;
    request->slotTick[slot] = now;
    request->slotBytes[slot] = request->received;
    ++request->slotCount;
    return 1;
}

void excludeFromRateWindow(HttpRequest* request, uint32_t ms) {
    int32_t held = request->slotCount < HTTP_RATE_SLOTS ? request->slotCount : HTTP_RATE_SLOTS;
    for (int32_t i = 0; i < held; ++i) request->slotTick[i] += ms;
}
