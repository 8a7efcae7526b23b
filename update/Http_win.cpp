#include <windows.h>
#include <wininet.h>

#include <stdlib.h>

#include "shell/Config.h"
#include "shell/Version.h"
#include "update/Http.h"

void httpInit() {
    DWORD connections = HTTP_MAX_CONNECTIONS;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof(connections));
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof(connections));
}

void* httpOpenInternet() {
    return InternetOpenA(ORVEL_USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

void httpCloseInternet(void* internet) {
    if (internet) InternetCloseHandle(internet);
}

char* httpFetch(void* internet, const char* url, uint32_t* outLength) {
    // Every request goes to the server and nothing is kept in the cache;
    // certificates are always checked.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (!isLocalUrl(url)) flags |= INTERNET_FLAG_SECURE;
    HINTERNET request = InternetOpenUrlA(internet, url, nullptr, 0, flags, 0);
    if (!request) return nullptr;

    char* buffer = nullptr;
    uint64_t capacity = HTTP_FIRST_CAPACITY, length = 0;
    DWORD status = 0, statusSize = sizeof(status);
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr);
    if (status != 200) goto failed;

    buffer = (char*)httpReallocate(nullptr, (size_t)capacity);
    if (!buffer) goto failed;
    {
        // With the body's length declared, the buffer gets at once the
        // capacity that its doublings would reach: every doubling touches
        // fresh memory, which costs more than the copy. Without room for it
        // the doublings go on as before.
        char lengthText[32];
        DWORD lengthSize = sizeof(lengthText);
        uint64_t target = 0;
        if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, lengthText, &lengthSize, nullptr)) {
            target = responseCapacityForLength(parseContentLength(lengthText));
        }
        if (target > capacity) {
            char* grown = (char*)httpReallocate(buffer, (size_t)target);
            if (grown) {
                buffer = grown;
                capacity = target;
            }
        }
    }
    for (;;) {
        DWORD bytesRead = 0;
        // Always keep one byte free for the terminator.
        if (!InternetReadFile(request, buffer + length, (DWORD)(capacity - length - 1), &bytesRead) ||
            bytesRead == 0) {
            break;
        }
        length += bytesRead;
        uint64_t newCapacity = responseCapacityAfterRead(capacity, length);
        if (newCapacity == 0) goto failed;
        if (newCapacity != capacity) {
            char* grown = (char*)httpReallocate(buffer, (size_t)newCapacity);
            if (!grown) goto failed;
            buffer = grown;
            capacity = newCapacity;
        }
    }
    InternetCloseHandle(request);
    buffer[length] = 0;
    *outLength = (uint32_t)length;
    return buffer;

failed:
    free(buffer);
    InternetCloseHandle(request);
    return nullptr;
}
