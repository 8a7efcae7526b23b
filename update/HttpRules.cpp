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
