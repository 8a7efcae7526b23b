// All of the launcher's network access, through the platform's internet
// client library: small documents fetched whole into memory (with a limit),
// and client files read chunk by chunk by their caller. Every transfer ends:
// a connection that cannot be made, a receive that waits past its limit and
// a body that trickles in below the minimum rate all fail it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "update/Failure.h"

enum {
    HTTP_FIRST_CAPACITY = 65536,
    HTTP_READ_SIZE = 256 * 1024,  // the most one read brings
    HTTP_MAX_CONNECTIONS = 8,
    HTTP_RATE_SLOTS = 6,  // the rate window is watched in sixths
    // Documents are held whole; anything larger is a failed fetch. The
    // manifest limit holds 200,000 lines of the longest kind with room to spare.
    HTTP_MANIFEST_LIMIT = 128 * 1024 * 1024,
    HTTP_NEWS_LIMIT = 1024 * 1024,
    HTTP_SIGNATURE_LIMIT = 4096
};

// The limits that end a transfer; tests shorten them.
struct HttpLimits {
    uint32_t connectMs;     // to make a connection
    uint32_t receiveMs;     // to wait for the next byte (headers included)
    uint32_t rateWindowMs;  // a transfer must receive rateMinBytes in every such window
    uint32_t rateMinBytes;
};
extern HttpLimits gHttpLimits;

struct HttpWait;

// One request in flight. received counts body bytes handed to the caller.
struct HttpRequest {
    void* session;  // the root of the request's own handles: closing it closes them all
    void* connection;
    void* request;
    HttpWait* wait;  // what its pending calls complete through, with the buffer its reads fill
    int32_t status;
    int32_t hasLength;
    uint64_t length;  // declared Content-Length
    int32_t hasRange;
    uint64_t rangeFirst;  // Content-Range of a 206: first and last byte, total size
    uint64_t rangeLast;
    uint64_t rangeTotal;
    int32_t retryAfterSeconds;
    uint64_t received;
    uint32_t slotTick[HTTP_RATE_SLOTS];  // received at the start of each slot of the rate window
    uint64_t slotBytes[HTTP_RATE_SLOTS];
    int32_t slotCount;
};

// Process-wide: 8 connections per server, so every worker has its own.
void httpInit();

// Sends a GET for url with the launcher's user agent, asking for the bytes
// from rangeFrom on when it is not 0, and reads the answer's headers; every
// wait is the launcher's own, with a limit. Returns 1 with request filled (any
// status), or 0 with failure filled and nothing left open.
int httpSend(const char* url, uint64_t rangeFrom, HttpRequest* request, Failure* failure);

// The same for the bytes first to last of url, both included: one range, as
// object storage refuses requests for several. The caller checks the answer
// with answersRange.
int httpSendRange(const char* url, uint64_t first, uint64_t last, HttpRequest* request, Failure* failure);

// Reads the next bytes of the body, at most most (1 or more) and
// HTTP_READ_SIZE, without waiting for more than have arrived. Returns 1 with *got bytes at *data (0: the body
// ended), valid until the next read or httpClose; or 0 with failure filled
// when the connection broke off, timed out or is too slow. The bytes are in
// the request's own buffer, which outlives a read that timed out.
int httpRead(HttpRequest* request, uint32_t most, const char** data, uint32_t* got, Failure* failure);

void httpClose(HttpRequest* request);

// One GET of a whole document with status 200, at most limit bytes. Returns
// the body followed by a zero byte in a heap buffer that the caller frees
// with free(), or null with failure filled (also for a body cut short of its
// declared length).
char* httpFetch(const char* url, uint32_t limit, uint32_t* outLength, Failure* failure);

// ---- Rules without platform calls (HttpRules.cpp)

// The decimal value of a Content-Length header; 0 when it is not one.
int parseContentLength(const char* text, uint64_t* value);

// "bytes FIRST-LAST/TOTAL" of a 206 answer; 0 when it is not exactly that.
int parseContentRange(const char* text, uint64_t* first, uint64_t* last, uint64_t* total);

// 1 when the answer is a 206 of exactly the bytes first to last of a file of
// total bytes: its Content-Range says so and its Content-Length, when sent,
// counts those bytes.
int answersRange(const HttpRequest* request, uint64_t first, uint64_t last, uint64_t total);

// The rate rule: called with the time and the bytes received so far after
// every read; 0 once a whole window has passed with fewer than minBytes.
int keepsMinimumRate(HttpRequest* request, uint32_t now, uint32_t windowMs, uint32_t minBytes);

// Leaves ms that the launcher itself waited (its speed limit) out of the rate
// window: the rule judges the server alone.
void excludeFromRateWindow(HttpRequest* request, uint32_t ms);

// Allocation of what the download path holds: documents, the workers'
// buffers, the requests' wait records and their read buffers. As realloc,
// except that size 0 frees the block. Tests replace it to count what the path
// holds and to see when it lets go.
extern void* (*gHttpReallocate)(void* block, size_t size);

// Tests watch reads through it: called with the wait record and the buffer
// as a read is handed to the library, and with a null buffer once the library
// will not write into that buffer for it any more.
extern void (*gHttpReadObserver)(const void* wait, const void* buffer);
