#include <stdlib.h>

#include "update/Http.h"

void* (*httpReallocate)(void* block, size_t size) = realloc;

uint64_t responseCapacityAfterRead(uint64_t capacity, uint64_t length) {
    if (capacity - length >= HTTP_MIN_FREE) return capacity;
    uint64_t doubled = capacity * 2;
    // The length is a 32-bit count and the terminator needs a byte of its own.
    if (doubled > (uint64_t)UINT32_MAX + 1) return 0;
    return doubled;
}

uint64_t responseCapacityForLength(uint64_t declaredLength) {
    uint64_t capacity = HTTP_FIRST_CAPACITY;
    while (capacity < declaredLength || capacity - declaredLength < HTTP_MIN_FREE) {
        capacity = responseCapacityAfterRead(capacity, capacity - 1);  // a full buffer always grows
        if (capacity == 0) return 0;
    }
    return capacity;
}

uint64_t parseContentLength(const char* text) {
    uint64_t value = 0;
    if (*text < '0' || *text > '9') return 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        unsigned digit = (unsigned)(*text - '0');
        if (value > (UINT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return *text == 0 ? value : 0;
}
