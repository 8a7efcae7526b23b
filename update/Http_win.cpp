#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "shell/Config.h"
#include "shell/Version.h"
#include "update/Http.h"

HttpLimits gHttpLimits = {30000, 30000, 60000, 60 * 1024};

void httpInit() {
    DWORD connections = HTTP_MAX_CONNECTIONS;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof(connections));
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof(connections));
}

// What a request waits on, and the buffer its reads fill. Its calls complete
// on the library's own threads, which report here. A read the launcher gave
// up on (a time-out) may still complete into its buffer until the library
// closes the request's handle, and a closed handle with a call pending is
// only marked closed. So the buffer belongs to this record, and both live
// until INTERNET_STATUS_HANDLE_CLOSING: nothing the launcher frees or reuses
// is ever written late, and the next request reads into a buffer of its own.
// (Waiting in httpClose for that report instead would hold a worker as long
// as the library likes, and still leave a buffer to leak when it never comes.)
struct HttpWait {
    HANDLE done;  // auto-reset: set by each completion
    DWORD error;
    INTERNET_BUFFERSA read;  // here, not on a stack: a late completion finds it alive
    char* buffer;            // made by the first read
    uint32_t bufferSize;
};

static void freeWait(HttpWait* wait) {
    char* buffer = wait->buffer;
    CloseHandle(wait->done);
    gHttpReallocate(wait, 0);
    gHttpReallocate(buffer, 0);
}

static void CALLBACK onRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD) {
    HttpWait* wait = (HttpWait*)context;
    if (!wait) return;
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
        // dwError means something only when the call failed: a completed
        // InternetQueryDataAvailable reports its byte count there.
        const INTERNET_ASYNC_RESULT* result = (const INTERNET_ASYNC_RESULT*)info;
        wait->error = result->dwResult ? ERROR_SUCCESS : result->dwError;
        SetEvent(wait->done);
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        freeWait(wait);  // the last report of the request: no call of it is pending
    }
}

// Every request is a tree of its own: a session, its connection and the
// request, taken down by closing the session alone, which closes its
// children with it. Wine's internet library changes a handle's list of
// children without a lock (a child added, a child's last reference dropped)
// and walks it when the parent closes; a request that a library thread frees
// while another thread closes its parent, or a sibling's, is memory freed
// under that walk. With nothing shared between requests, and the launcher
// holding the whole tree until the one call that closes it, each tree is
// taken down in one order on one thread, whichever thread drops the last
// reference.
//
// Asynchronous: a synchronous read either waits until its whole buffer is
// full, which a server sending a byte now and then can stretch to days and
// nothing can end, or returns only the library's small internal buffer. An
// asynchronous read takes whatever has arrived, and the launcher decides
// itself how long to wait for more.
static HINTERNET openSession() {
    HINTERNET session =
        InternetOpenA(ORVEL_USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (session && InternetSetStatusCallback(session, onRequestStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        InternetCloseHandle(session);
        session = nullptr;
    }
    return session;
}

// The platform's error for a transfer that failed, as a reason the retry rule
// understands. Under Wine a receive time-out while waiting for the headers
// shows as an aborted connection, so the elapsed time decides there.
static void recordSystemFailure(Failure* failure, DWORD error, DWORD elapsedMs) {
    *failure = Failure{};
    failure->retryAfterSeconds = -1;
    failure->systemError = error;
    switch (error) {
        case ERROR_INTERNET_TIMEOUT:
        case WSAETIMEDOUT: failure->reason = FAIL_TIMEOUT; break;
        case ERROR_INTERNET_CANNOT_CONNECT:
        case WSAECONNREFUSED: failure->reason = FAIL_REFUSED; break;
        case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR: failure->reason = FAIL_INSECURE_REDIRECT; break;
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        case WSAECONNRESET:
        case WSAECONNABORTED:
            failure->reason = elapsedMs + 100 >= gHttpLimits.receiveMs ? FAIL_TIMEOUT : FAIL_DROPPED;
            break;
        default: failure->reason = FAIL_CONNECT; break;
    }
}

static int queryHeader(HINTERNET request, DWORD query, char* out, DWORD size) {
    DWORD length = size;
    if (!HttpQueryInfoA(request, query, out, &length, nullptr)) return 0;
    out[length < size ? length : size - 1] = 0;
    return 1;
}

// The call that returned ok finished at once; one that is pending is waited
// for, at most ms. Returns 1 when it succeeded, else 0 with the error set.
static int finished(BOOL ok, HttpWait* wait, DWORD ms) {
    if (ok) return 1;
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(wait->done, ms) != WAIT_OBJECT_0) {
            SetLastError(ERROR_INTERNET_TIMEOUT);
            return 0;
        }
        error = wait->error;
    }
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

void httpClose(HttpRequest* request) {
    // The library frees the wait record once the request's handle is gone;
    // before the request was made, nothing else holds it.
    if (!request->request && request->wait) freeWait(request->wait);
    if (request->session) InternetCloseHandle(request->session);
    request->session = nullptr;
    request->connection = nullptr;
    request->request = nullptr;
    request->wait = nullptr;
}

// A GET for url, with the Range header line header unless it is empty.
static int sendGet(const char* url, const char* header, HttpRequest* out, Failure* failure) {
    *out = HttpRequest{};
    out->retryAfterSeconds = -1;
    char host[INTERNET_MAX_HOST_NAME_LENGTH];
    char path[INTERNET_MAX_URL_LENGTH];
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof(host);
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof(path);
    DWORD started = GetTickCount();
    DWORD timeouts[] = {gHttpLimits.connectMs, gHttpLimits.receiveMs, gHttpLimits.receiveMs};
    DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT};
    // Every request goes to the server and nothing is kept in the cache;
    // certificates are always checked.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (!isLocalUrl(url)) flags |= INTERNET_FLAG_SECURE;
    if (!InternetCrackUrlA(url, 0, 0, &parts)) goto failed;
    out->wait = (HttpWait*)gHttpReallocate(nullptr, sizeof(HttpWait));
    if (out->wait) *out->wait = HttpWait{};
    if (!out->wait || !(out->wait->done = CreateEventA(nullptr, FALSE, FALSE, nullptr))) {
        gHttpReallocate(out->wait, 0);
        out->wait = nullptr;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        goto failed;
    }
    out->session = openSession();
    if (!out->session) goto failed;
    out->connection = InternetConnectA(out->session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!out->connection) goto failed;
    out->request =
        HttpOpenRequestA(out->connection, "GET", path, nullptr, nullptr, nullptr, flags, (DWORD_PTR)out->wait);
    if (!out->request) goto failed;
    for (int i = 0; i < 3; ++i) InternetSetOptionA(out->request, options[i], &timeouts[i], sizeof(DWORD));
    if (!finished(HttpSendRequestA(out->request, header[0] ? header : nullptr, (DWORD)strlen(header), nullptr, 0),
                  out->wait, gHttpLimits.connectMs + gHttpLimits.receiveMs)) {
        goto failed;
    }
    {
        // The library follows redirects by itself, also from HTTPS to plain
        // HTTP: where the answer came from decides.
        char finalUrl[INTERNET_MAX_URL_LENGTH];
        DWORD finalSize = sizeof(finalUrl);
        if (!InternetQueryOptionA(out->request, INTERNET_OPTION_URL, finalUrl, &finalSize)) finalUrl[0] = 0;
        finalUrl[finalSize < sizeof(finalUrl) ? finalSize : sizeof(finalUrl) - 1] = 0;
        if (!keepsHttps(url, finalUrl)) {
            SetLastError(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
            goto failed;
        }
    }
    {
        DWORD status = 0, statusSize = sizeof(status);
        HttpQueryInfoA(out->request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr);
        out->status = (int32_t)status;
        char text[128];
        if (queryHeader(out->request, HTTP_QUERY_CONTENT_LENGTH, text, sizeof(text))) {
            out->hasLength = parseContentLength(text, &out->length);
        }
        if (queryHeader(out->request, HTTP_QUERY_CONTENT_RANGE, text, sizeof(text))) {
            out->hasRange = parseContentRange(text, &out->rangeFirst, &out->rangeLast, &out->rangeTotal);
        }
        if (queryHeader(out->request, HTTP_QUERY_RETRY_AFTER, text, sizeof(text))) {
            out->retryAfterSeconds = parseRetryAfter(text);
        }
    }
    keepsMinimumRate(out, GetTickCount(), gHttpLimits.rateWindowMs, gHttpLimits.rateMinBytes);
    return 1;

failed:
    recordSystemFailure(failure, GetLastError(), GetTickCount() - started);
    httpClose(out);
    return 0;
}

int httpSend(const char* url, uint64_t rangeFrom, HttpRequest* out, Failure* failure) {
    char header[64] = "";
    if (rangeFrom > 0) snprintf(header, sizeof(header), "Range: bytes=%llu-\r\n", (unsigned long long)rangeFrom);
    return sendGet(url, header, out, failure);
}

int httpSendRange(const char* url, uint64_t first, uint64_t last, HttpRequest* out, Failure* failure) {
    char header[80];
    snprintf(header, sizeof(header), "Range: bytes=%llu-%llu\r\n", (unsigned long long)first, (unsigned long long)last);
    return sendGet(url, header, out, failure);
}

static void recordFailure(Failure* failure, int32_t reason, const HttpRequest* request) {
    *failure = Failure{};
    failure->reason = reason;
    failure->httpStatus = request->status;
    failure->retryAfterSeconds = request->retryAfterSeconds;
}

int httpRead(HttpRequest* request, uint32_t most, const char** data, uint32_t* got, Failure* failure) {
    DWORD started = GetTickCount();
    HttpWait* wait = request->wait;
    if (!wait->buffer) {
        // A small body does not take the largest buffer.
        uint64_t size = (uint64_t)HTTP_READ_SIZE;
        if (request->hasLength && request->length < size) size = request->length;
        wait->bufferSize = size > 0 ? (uint32_t)size : 1;
        wait->buffer = (char*)gHttpReallocate(nullptr, wait->bufferSize);
        if (!wait->buffer) {
            recordFailure(failure, FAIL_MEMORY, request);
            return 0;
        }
    }
    INTERNET_BUFFERSA& read = wait->read;
    // First wait until bytes have arrived (or the body has ended), at most the
    // receive limit, with InternetQueryDataAvailable, which holds no buffer;
    // then read what is there. So a read of ours does not stay pending: what
    // a pending read hands over on completion differs (Windows documents that
    // it fills the buffer; Wine only says that data has come).
    DWORD available = 0, error = ERROR_SUCCESS;
    int givenUp = 0;  // a read stays pending: its buffer is the library's until the handle closes
    if (!InternetQueryDataAvailable(request->request, &available, 0, (DWORD_PTR)wait)) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            int completed = WaitForSingleObject(wait->done, gHttpLimits.receiveMs) == WAIT_OBJECT_0;
            error = completed ? wait->error : ERROR_INTERNET_TIMEOUT;
        }
    }
    if (error == ERROR_SUCCESS) {
        read = INTERNET_BUFFERSA{};
        read.dwStructSize = sizeof(read);
        read.lpvBuffer = wait->buffer;
        read.dwBufferLength = most < wait->bufferSize ? most : wait->bufferSize;
        if (gHttpReadObserver) gHttpReadObserver(wait, wait->buffer);
        if (!InternetReadFileExA(request->request, &read, IRF_NO_WAIT, (DWORD_PTR)wait)) {
            error = GetLastError();
            // Pending although bytes had come: what its completion hands over
            // cannot be told, so the transfer breaks off and resumes from what
            // was counted.
            givenUp = error == ERROR_IO_PENDING;
            if (givenUp) error = ERROR_INTERNET_CONNECTION_ABORTED;
        }
    }
    if (error != ERROR_SUCCESS) {
        if (gHttpReadObserver && !givenUp) gHttpReadObserver(wait, nullptr);
        recordSystemFailure(failure, error, GetTickCount() - started);
        failure->httpStatus = request->status;
        return 0;
    }
    if (gHttpReadObserver) gHttpReadObserver(wait, nullptr);
    request->received += read.dwBufferLength;
    *data = wait->buffer;
    *got = read.dwBufferLength;
    if (!keepsMinimumRate(request, GetTickCount(), gHttpLimits.rateWindowMs, gHttpLimits.rateMinBytes)) {
        recordFailure(failure, FAIL_SLOW, request);
        failure->retryAfterSeconds = -1;
        return 0;
    }
    return 1;
}

char* httpFetch(const char* url, uint32_t limit, uint32_t* outLength, Failure* failure) {
    HttpRequest request;
    if (!httpSend(url, 0, &request, failure)) return nullptr;
    char* buffer = nullptr;
    uint64_t capacity = 0, length = 0;
    if (request.status != 200) {
        recordFailure(failure, FAIL_HTTP_STATUS, &request);
        goto failed;
    }
    // A declared length never reserves memory: the buffer grows with what
    // arrives. A document declared too large fails before its body is read.
    if (request.hasLength && request.length > limit) {
        recordFailure(failure, FAIL_TOO_LARGE, &request);
        goto failed;
    }
    for (;;) {
        const char* data = nullptr;
        uint32_t got = 0;
        if (!httpRead(&request, UINT32_MAX, &data, &got, failure)) goto failed;
        if (got > limit - length) {
            recordFailure(failure, FAIL_TOO_LARGE, &request);
            goto failed;
        }
        // Room for the bytes and the terminator: the buffer doubles, up to the limit.
        if (length + got + 1 > capacity) {
            uint64_t grown = capacity ? capacity * 2 : (uint64_t)HTTP_FIRST_CAPACITY;
            while (grown < length + got + 1) grown *= 2;
            if (grown > (uint64_t)limit + 1) grown = (uint64_t)limit + 1;
            char* bigger = (char*)gHttpReallocate(buffer, (size_t)grown);
            if (!bigger) {
                recordFailure(failure, FAIL_MEMORY, &request);
                goto failed;
            }
            buffer = bigger;
            capacity = grown;
        }
        if (got == 0) break;
        memcpy(buffer + length, data, got);
        length += got;
    }
    if (request.hasLength && length < request.length) {
        recordFailure(failure, FAIL_CUT, &request);
        failure->expected = request.length;
        failure->actual = length;
        goto failed;
    }
    httpClose(&request);
    buffer[length] = 0;
    *outLength = (uint32_t)length;
    return buffer;

failed:
    httpClose(&request);
    gHttpReallocate(buffer, 0);
    return nullptr;
}
