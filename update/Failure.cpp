#include "update/Failure.h"

enum { RETRY_AFTER_LIMIT = 30 };

const char* failureCode(int32_t reason) {
    static const char* const codes[FAIL_REASON_COUNT] = {"none",
                                                         "refused",
                                                         "connect",
                                                         "timeout",
                                                         "slow",
                                                         "dropped",
                                                         "cut",
                                                         "http",
                                                         "too-large",
                                                         "memory",
                                                         "length",
                                                         "digest",
                                                         "write",
                                                         "in-use",
                                                         "too-long",
                                                         "own-file",
                                                         "server-gone",
                                                         "signature",
                                                         "insecure-redirect",
                                                         "disk-full",
                                                         "start"};
    return reason >= 0 && reason < FAIL_REASON_COUNT ? codes[reason] : "unknown";
}

int isPassingFailure(const Failure* failure) {
    switch (failure->reason) {
        case FAIL_REFUSED:
        case FAIL_TIMEOUT:
        case FAIL_SLOW:
        case FAIL_DROPPED:
        case FAIL_CUT: return 1;
        case FAIL_HTTP_STATUS: {
            int32_t s = failure->httpStatus;
            return s == 408 || s == 429 || s == 500 || s == 502 || s == 503 || s == 504;
        }
    }
    return 0;
}

int keepsWhatArrived(const Failure* failure) { return isPassingFailure(failure) || failure->reason == FAIL_DISK_FULL; }

int isBaseFailure(const Failure* failure) {
    switch (failure->reason) {
        case FAIL_MEMORY:
        case FAIL_WRITE:
        case FAIL_IN_USE:
        case FAIL_PATH_TOO_LONG:
        case FAIL_OWN_FILE:
        case FAIL_DISK_FULL:
        case FAIL_START: return 0;
    }
    return failure->reason != FAIL_NONE;
}

int isUnreachable(const Failure* failure) { return failure->reason == FAIL_REFUSED || failure->reason == FAIL_TIMEOUT; }

int32_t retryPauseUnits(int retry, const Failure* failure) {
    if (failure->retryAfterSeconds >= 0) return failure->retryAfterSeconds;
    return retry <= 1 ? 1 : 4;
}

int32_t parseRetryAfter(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    if (*text == 0) return -1;
    int64_t seconds = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        seconds = seconds * 10 + (*p - '0');
        if (seconds > RETRY_AFTER_LIMIT) return RETRY_AFTER_LIMIT;
    }
    while (*p == ' ' || *p == '\t') ++p;
    // An HTTP date, or anything else the launcher cannot count on.
    if (p == text || *p != 0) return RETRY_AFTER_LIMIT;
    return (int32_t)seconds;
}
