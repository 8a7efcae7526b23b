// All of the launcher's network access: whole documents and files fetched
// into memory with the platform's internet client library.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    HTTP_FIRST_CAPACITY = 65536,
    HTTP_MIN_FREE = 4096,
    HTTP_MAX_CONNECTIONS = 8
};

// Process-wide: 8 connections per server, so every worker has its own.
void httpInit();

// The run's internet handle with the launcher's user agent, or null.
void* httpOpenInternet();
void httpCloseInternet(void* internet);

// One GET. Returns the body followed by a zero byte in a heap buffer that the
// caller frees, and its length in outLength; null when the request fails,
// the final status is not 200, or the body cannot be held. A transfer that
// breaks off after the status returns what arrived.
char* httpFetch(void* internet, const char* url, uint32_t* outLength);

// Capacity after a read left length bytes in a buffer of capacity bytes:
// the same, or doubled when fewer than 4,096 bytes are free; 0 when the body
// could no longer be held with its terminator and a 32-bit length.
uint64_t responseCapacityAfterRead(uint64_t capacity, uint64_t length);

// The capacity that the rule above reaches for a body of declaredLength
// bytes, whatever the sizes of the reads: the smallest doubling of
// HTTP_FIRST_CAPACITY with 4,096 bytes free after the body, or 0 when the
// rule would give up first.
uint64_t responseCapacityForLength(uint64_t declaredLength);

// The decimal value of a Content-Length header, or 0 when it is not one.
uint64_t parseContentLength(const char* text);

// Allocation used for response buffers; tests replace it.
extern void* (*httpReallocate)(void* block, size_t size);
