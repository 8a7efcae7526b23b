// The ceiling the platform's internet library sets: the same URLs the
// launcher fetches, on 8 threads, with the launcher's InternetOpenA flags and
// request flags, each body streamed to a file through a buffer of the
// launcher's workers' size, and nothing else (no folders, no digest, no
// rename, no resume).
//   bare_wininet URL_BASE LIST_FILE OUT_DIR
// LIST_FILE holds one URL path a line, relative to URL_BASE. Prints
// "ms=...", "files=..." and "failed=..." lines.
#include <windows.h>
#include <wininet.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "shell/Version.h"

enum {
    BARE_THREADS = 8,
    BARE_URL_SIZE = 1024,
    BARE_BUFFER_SIZE = 256 * 1024,  // as a download worker's buffer
    BARE_MAX_LINES = 1000000
};

struct BareQueue {
    HINTERNET internet;
    const char* urlBase;
    const char* outDir;
    char** paths;
    int32_t count;
    volatile int32_t nextJob;
    volatile int32_t failed;
};

// One GET, the body read in whole buffers as the library hands them over and
// written to target.
static int fetchOne(const BareQueue* queue, int32_t index, char* buffer) {
    char url[BARE_URL_SIZE];
    char target[MAX_PATH];
    snprintf(url, sizeof(url), "%s%s", queue->urlBase, queue->paths[index]);
    snprintf(target, sizeof(target), "%s\\f%d", queue->outDir, index);
    HINTERNET request =
        InternetOpenUrlA(queue->internet, url, nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request) return 0;
    int result = 0;
    DWORD status = 0, statusSize = sizeof(status);
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr);
    HANDLE file = status == 200
                      ? CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                      : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        for (;;) {
            DWORD bytesRead = 0, written = 0;
            if (!InternetReadFile(request, buffer, BARE_BUFFER_SIZE, &bytesRead)) break;
            if (bytesRead == 0) {
                result = 1;
                break;
            }
            if (!WriteFile(file, buffer, bytesRead, &written, nullptr) || written != bytesRead) break;
        }
        CloseHandle(file);
    }
    InternetCloseHandle(request);
    return result;
}

static DWORD WINAPI bareWorker(void* argument) {
    BareQueue* queue = (BareQueue*)argument;
    char* buffer = (char*)malloc(BARE_BUFFER_SIZE);
    for (;;) {
        int32_t index = __atomic_add_fetch(&queue->nextJob, 1, __ATOMIC_SEQ_CST);
        if (index >= queue->count) break;
        if (!buffer || !fetchOne(queue, index, buffer)) __atomic_add_fetch(&queue->failed, 1, __ATOMIC_SEQ_CST);
    }
    free(buffer);
    return 0;
}

// Splits text into its non-empty lines, in place.
static int32_t splitLines(char* text, char** lines, int32_t capacity) {
    int32_t count = 0;
    for (char* line = strtok(text, "\r\n"); line && count < capacity; line = strtok(nullptr, "\r\n")) {
        lines[count++] = line;
    }
    return count;
}

static char* readList(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) return nullptr;
    char* text = nullptr;
    long size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
    if (size >= 0 && fseek(file, 0, SEEK_SET) == 0) text = (char*)malloc((size_t)size + 1);
    if (text && fread(text, 1, (size_t)size, file) == (size_t)size) {
        text[size] = 0;
    } else {
        free(text);
        text = nullptr;
    }
    fclose(file);
    return text;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: bare_wininet URL_BASE LIST_FILE OUT_DIR\n");
        return 2;
    }
    int result = 1;
    BareQueue queue = {};
    HANDLE threads[BARE_THREADS];
    DWORD started = 0;
    LARGE_INTEGER frequency, start, end;
    DWORD connections = BARE_THREADS;
    char* list = readList(argv[2]);
    if (!list) goto cleanup;
    queue.paths = (char**)malloc(BARE_MAX_LINES * sizeof(char*));
    if (!queue.paths) goto cleanup;
    queue.count = splitLines(list, queue.paths, BARE_MAX_LINES);
    queue.urlBase = argv[1];
    queue.outDir = argv[3];
    queue.nextJob = -1;

    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof(connections));
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof(connections));
    queue.internet = InternetOpenA(ORVEL_USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!queue.internet) goto cleanup;
    for (DWORD i = 0; i < BARE_THREADS; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, bareWorker, &queue, 0, nullptr);
        if (thread) threads[started++] = thread;
    }
    if (started < BARE_THREADS) bareWorker(&queue);
    if (started > 0) WaitForMultipleObjects(started, threads, TRUE, INFINITE);
    QueryPerformanceCounter(&end);

    printf("ms=%.3f\n", (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart);
    printf("files=%d\n", queue.count);
    printf("failed=%d\n", queue.failed);
    result = queue.failed == 0 ? 0 : 1;

cleanup:
    for (DWORD i = 0; i < started; ++i) CloseHandle(threads[i]);
    if (queue.internet) InternetCloseHandle(queue.internet);
    free(queue.paths);
    free(list);
    fflush(stdout);
    return result;
}
