// Why a transfer or a file failed, recorded where it happens: the retry rule
// decides on it and the run's log shows it to players and operators.
#pragma once

#include <stdint.h>

enum {
    FAIL_NONE = 0,
    FAIL_REFUSED,      // no connection could be made
    FAIL_CONNECT,      // name, TLS or certificate failure: trying again will not help
    FAIL_TIMEOUT,      // nothing arrived within the receive limit
    FAIL_SLOW,         // less than the minimum rate over the rate window
    FAIL_DROPPED,      // the connection broke off
    FAIL_CUT,          // the body ended before its declared length
    FAIL_HTTP_STATUS,  // an answer other than the one asked for
    FAIL_TOO_LARGE,    // a document over its limit
    FAIL_MEMORY,
    FAIL_LENGTH,         // declared or received length differs from the manifest's size
    FAIL_DIGEST,         // the whole file does not have the manifest's digest
    FAIL_WRITE,          // the ".part" file could not be written
    FAIL_IN_USE,         // the verified file could not replace its target
    FAIL_PATH_TOO_LONG,  // target or ".part" path would not fit
    FAIL_OWN_FILE,       // the target is one of the launcher's own files
    FAIL_SERVER_GONE,    // too many transfers in a row found no server
    FAIL_SIGNATURE,      // the release's signature is missing or does not match
    // Redirected to plain HTTP, from HTTPS or away from this machine.
    FAIL_INSECURE_REDIRECT,
    FAIL_DISK_FULL,  // a write found the disk full, or another's did and the run stopped
    FAIL_START,      // a new launcher could not be started
    FAIL_REASON_COUNT
};

struct Failure {
    int32_t reason;             // FAIL_*
    uint32_t systemError;       // GetLastError() or the WinINet code, 0 when none
    int32_t httpStatus;         // 0 when no answer arrived
    int32_t retryAfterSeconds;  // Retry-After, at most 30; -1 when the server sent none
    uint64_t expected;          // lengths, for FAIL_LENGTH and FAIL_CUT
    uint64_t actual;
};

// A short code for the log, e.g. "timeout", "http-status".
const char* failureCode(int32_t reason);

// 1 when trying again may succeed: a dropped or refused connection, a time-out,
// or HTTP 408, 429, 500, 502, 503, 504.
int isPassingFailure(const Failure* failure);

// 1 when what arrived stays in the ".part" for a later try or run: after a
// passing failure, or when the disk is full.
int keepsWhatArrived(const Failure* failure);

// 1 when the failure came from the server or what it sent, so that another
// base (a mirror) may give the file; 0 for what fails here whatever the
// server: writing, memory, the file in use, the path.
int isBaseFailure(const Failure* failure);

// 1 when the transfer never reached a server that answered: a refused
// connection or a time-out. Eight in a row end the downloads of a run.
int isUnreachable(const Failure* failure);

// Pause before try number retry (1 or 2) in units of a second: what
// Retry-After asked, or else 1, then 4.
int32_t retryPauseUnits(int retry, const Failure* failure);

// Retry-After as seconds, at most 30; a longer value or an HTTP date counts as 30.
int32_t parseRetryAfter(const char* text);
