// The benchmark's Windows side: real update runs, the engine's steps on their
// own and what the platform alone costs, timed inside one Windows process
// under the same Wine prefix as the tests.
//   run CLIENT_DIR UPDATE_URL FULLVERIFY        one whole update run
//   pieces CLIENT_DIR UPDATE_URL                a warm start's steps, each timed
//   attrs CLIENT_DIR MANIFEST_FILE              GetFileAttributesExA of every path
//   listings CLIENT_DIR MANIFEST_FILE           FindFirstFileExA listing of every folder
//   hashfiles CLIENT_DIR MANIFEST_FILE N        fileSha256Hex of every file on N threads
//   hash FILE                                   fileSha256Hex of one file
//   hashmemory FILES SIZE PIECE N               SHA-256 of FILES x SIZE bytes in memory on N threads
//   transfers UPDATE_URL MANIFEST_FILE WHOLE    every file through httpSend and httpRead (WHOLE 1:
//                                               InternetReadFile of whole buffers), the bytes dropped
//   writes CLIENT_DIR MANIFEST_FILE PIECE       every file written to its .part and moved over
//   match CLIENT_DIR MANIFEST_FILE OBJECTS_DIR BLOCK_SIZE
//                                               the old copy of every file matched against its
//                                               block index in OBJECTS_DIR, as a delta reads it
// MANIFEST_FILE lists the files, one manifest line each; PIECE is the size
// of each write or digest call, at most the workers' buffer. Every figure
// goes to standard output as one "key=value" line; the commands run on one
// thread unless N says otherwise.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/BlockDelta.h"
#include "update/Cache.h"
#include "update/Check.h"
#include "update/Digest.h"
#include "update/Documents.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/OwnFiles.h"
#include "update/Status.h"

enum { BENCH_RUN_TIMEOUT_MS = 900000, BENCH_PROC_STATUS_SIZE = 8192, BENCH_MAX_THREADS = 8 };

static LARGE_INTEGER benchFrequency;
static int benchDoneMessages;
static int benchStatusMessages;

static double nowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * 1000.0 / (double)benchFrequency.QuadPart;
}

// Takes the run's messages as the launcher's window does: a status message is
// taken at once, so that the next change posts again.
static LRESULT CALLBACK benchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_STATUS_CHANGED) {
        takeStatusChanged();
        ++benchStatusMessages;
        return 0;
    }
    if (message == WM_UPDATE_DONE) {
        ++benchDoneMessages;
        launcherState.updateRunning = 0;
        launcherState.readyToPlay = 1;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The same client folder and server as the launcher would read from launcher.ini.
static int configureRun(const char* clientDir, const char* updateUrl) {
    LauncherState& s = launcherState;
    if (!formatText(s.clientDir, sizeof(s.clientDir), "%s", clientDir)) return 0;
    if (!formatText(s.updateUrl, sizeof(s.updateUrl), "%s", updateUrl)) return 0;
    normaliseUpdateUrl(s.updateUrl, sizeof(s.updateUrl));
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = benchWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OrvelBench";
    RegisterClassA(&windowClass);
    s.mainWindow = CreateWindowExA(0, "OrvelBench", "bench", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    return s.mainWindow != nullptr;
}

// Dispatches the window's messages until thread has ended (or, without one,
// until the run has posted WM_UPDATE_DONE). 0 when the deadline passed first.
static int pumpUntil(HANDLE thread, double deadline) {
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        if (thread ? WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 : benchDoneMessages > 0) return 1;
        if (nowMs() >= deadline) return 0;
        MsgWaitForMultipleObjects(thread ? 1 : 0, &thread, FALSE, 100, QS_ALLINPUT);
    }
}

// Peak working set as Windows reports it, and the Linux view of the same
// process: VmHWM of the Wine process, whose Unix id the benchmark passes in
// BENCH_UNIX_PID (Wine opens files in its server, so /proc/self would be the
// server's).
static void printMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
        printf("peak_working_set_kib=%llu\n", (unsigned long long)counters.PeakWorkingSetSize / 1024);
    }
    const char* unixPid = getenv("BENCH_UNIX_PID");
    char statusPath[MAX_PATH];
    if (!unixPid || !formatText(statusPath, sizeof(statusPath), "Z:\\proc\\%s\\status", unixPid)) return;
    HANDLE file = CreateFileA(statusPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char* text = (char*)malloc(BENCH_PROC_STATUS_SIZE);
    DWORD length = 0;
    if (text && ReadFile(file, text, BENCH_PROC_STATUS_SIZE - 1, &length, nullptr)) {
        text[length] = 0;
        const char* peak = strstr(text, "VmHWM:");
        if (peak) printf("vm_hwm_kib=%lu\n", strtoul(peak + 6, nullptr, 10));
    }
    free(text);
    CloseHandle(file);
}

static int commandRun(const char* clientDir, const char* updateUrl, int fullVerify) {
    if (!configureRun(clientDir, updateUrl)) return 1;
    double start = nowMs();
    startUpdateRun(fullVerify);
    pumpUntil(nullptr, start + BENCH_RUN_TIMEOUT_MS);
    double elapsed = nowMs() - start;
    char status[STATUS_TEXT_SIZE];
    copyStatusText(status);
    printf("ms=%.3f\n", elapsed);
    printf("done=%d\n", benchDoneMessages);
    printf("status_messages=%d\n", benchStatusMessages);
    printf("status=%s\n", status);
    printMemory();
    return benchDoneMessages == 1 ? 0 : 1;
}

// A warm start's steps in the run's order, each timed on its own, on a
// thread of their own while this one takes the window's messages.
struct WarmPieces {
    double fetchMs, cacheLoadMs, checkMs, cacheSaveMs;
    int32_t jobs, failed;
    int fetched;
};

static DWORD WINAPI warmPieces(void* argument) {
    WarmPieces* pieces = (WarmPieces*)argument;
    char url[FILE_URL_SIZE];
    uint32_t length = 0;
    Failure failure;
    JobList list = {};
    double t0 = nowMs();
    buildFileUrl(url, launcherState.updateUrl, "manifest.txt");
    char* manifest = httpFetch(url, HTTP_MANIFEST_LIMIT, &length, &failure);
    buildFileUrl(url, launcherState.updateUrl, "news.txt");
    char* news = manifest ? httpFetch(url, HTTP_NEWS_LIMIT, &length, &failure) : nullptr;
    if (news) parseNews(news);
    double t1 = nowMs();
    pieces->fetched = manifest != nullptr;
    if (manifest) {
        loadCache();
        double t2 = nowMs();
        pieces->failed = checkManifest(manifest, &list);
        double t3 = nowMs();
        saveCache();
        double t4 = nowMs();
        pieces->fetchMs = t1 - t0;
        pieces->cacheLoadMs = t2 - t1;
        pieces->checkMs = t3 - t2;
        pieces->cacheSaveMs = t4 - t3;
        pieces->jobs = list.count;
    }
    freeJobList(&list);
    free(news);
    free(manifest);
    return 0;
}

static int commandPieces(const char* clientDir, const char* updateUrl) {
    if (!configureRun(clientDir, updateUrl)) return 1;
    WarmPieces pieces = {};
    HANDLE thread = CreateThread(nullptr, 0, warmPieces, &pieces, 0, nullptr);
    if (!thread) return 1;
    int ended = pumpUntil(thread, nowMs() + BENCH_RUN_TIMEOUT_MS);
    CloseHandle(thread);
    if (!ended || !pieces.fetched) return 1;
    printf("fetch_ms=%.3f\n", pieces.fetchMs);
    printf("cache_load_ms=%.3f\n", pieces.cacheLoadMs);
    printf("check_ms=%.3f\n", pieces.checkMs);
    printf("cache_save_ms=%.3f\n", pieces.cacheSaveMs);
    printf("status_messages=%d\n", benchStatusMessages);
    printf("jobs=%d\n", pieces.jobs);
    return pieces.jobs == 0 && pieces.failed == 0 ? 0 : 1;
}

// The files of a manifest file, read before any clock starts.
struct FileList {
    char* text;
    ManifestEntry* entries;
    int32_t count;
};

static void freeFileList(FileList* list) {
    free(list->entries);
    free(list->text);
    *list = FileList{};
}

static int readFileList(const char* manifestFile, FileList* list) {
    *list = FileList{};
    HANDLE file = CreateFileA(manifestFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD size = GetFileSize(file, nullptr), length = 0;
    if (size != INVALID_FILE_SIZE) list->text = (char*)malloc((size_t)size + 1);
    int read = list->text && ReadFile(file, list->text, size, &length, nullptr) && length == size;
    CloseHandle(file);
    if (!read) {
        freeFileList(list);
        return 0;
    }
    list->text[length] = 0;
    int32_t lines = 1;
    for (const char* p = list->text; *p; ++p) lines += *p == '\n';
    list->entries = (ManifestEntry*)malloc((size_t)lines * sizeof(ManifestEntry));
    if (!list->entries) {
        freeFileList(list);
        return 0;
    }
    for (char* line = list->text; line;) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        if (parseManifestLine(line, &list->entries[list->count])) ++list->count;
        line = lineFeed ? lineFeed + 1 : nullptr;
    }
    return 1;
}

// What Wine itself costs per file: the attribute query of every path, or the
// listing of every folder the way the check lists them (the manifest names
// the files of one folder together).
static int commandQueries(const char* clientDir, const char* manifestFile, int listings) {
    FileList list;
    if (!readFileList(manifestFile, &list)) return 1;
    char(*paths)[LOCAL_PATH_SIZE] = (char(*)[LOCAL_PATH_SIZE])calloc((size_t)list.count + 1, LOCAL_PATH_SIZE);
    int32_t count = 0, found = 0;
    for (int32_t i = 0; paths && i < list.count; ++i) {
        const char* path = list.entries[i].path;
        const char* slash = strrchr(path, '\\');
        if (!listings) {
            count += buildLocalPath(paths[count], clientDir, path);
        } else if (formatText(paths[count], LOCAL_PATH_SIZE, "%s\\%.*s*", clientDir,
                              slash ? (int)(slash - path + 1) : 0, path) &&
                   (count == 0 || strcmp(paths[count], paths[count - 1]) != 0)) {
            ++count;
        }
    }
    double start = nowMs();
    for (int32_t i = 0; i < count; ++i) {
        if (!listings) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            found += GetFileAttributesExA(paths[i], GetFileExInfoStandard, &data) ? 1 : 0;
            continue;
        }
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileExA(paths[i], FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            found += (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
        } while (FindNextFileA(search, &data));
        FindClose(search);
    }
    double elapsed = nowMs() - start;
    printf("ms=%.3f\n", elapsed);
    printf("queries=%d\n", count);
    printf("files=%d\n", list.count);
    printf("found=%d\n", found);
    int result = paths && found >= list.count ? 0 : 1;
    free(paths);
    freeFileList(&list);
    return result;
}

// Threads that share one list of work items, each claimed once.
struct SharedWork {
    const FileList* list;
    const char* clientDir;
    uint64_t bytesEach;  // hashmemory: bytes per item, added pieceSize at a time
    uint32_t pieceSize;
    volatile LONG next;
    volatile LONG failed;
};

static DWORD WINAPI hashFiles(void* argument) {
    SharedWork* work = (SharedWork*)argument;
    char path[LOCAL_PATH_SIZE], digest[DIGEST_TEXT_SIZE];
    for (LONG i; (i = InterlockedIncrement(&work->next) - 1) < work->list->count;) {
        const ManifestEntry& entry = work->list->entries[i];
        if (!buildLocalPath(path, work->clientDir, entry.path) || !fileSha256Hex(path, digest) ||
            !equalsIgnoreCase(digest, entry.sha256)) {
            InterlockedIncrement(&work->failed);
        }
    }
    return 0;
}

// Bytes as the download workers hash them: received into a buffer of the
// workers' size and added to the file's digest piece by piece, as they came.
static DWORD WINAPI hashMemory(void* argument) {
    SharedWork* work = (SharedWork*)argument;
    char* buffer = (char*)malloc(DOWNLOAD_BUFFER_SIZE);
    char digest[DIGEST_TEXT_SIZE];
    for (LONG i = 0; buffer && i < DOWNLOAD_BUFFER_SIZE; ++i) buffer[i] = (char)(i * 131 + (i >> 9));
    for (LONG i; (i = InterlockedIncrement(&work->next) - 1) < work->list->count;) {
        Sha256 hash = {};
        int good = buffer && sha256Begin(&hash);
        for (uint64_t left = work->bytesEach; good && left > 0;) {
            size_t piece = left < work->pieceSize ? (size_t)left : (size_t)work->pieceSize;
            good = sha256Add(&hash, buffer, piece);
            left -= piece;
        }
        if (!good || !sha256Finish(&hash, digest)) InterlockedIncrement(&work->failed);
        sha256End(&hash);
    }
    free(buffer);
    return 0;
}

// Runs routine on threadCount threads over the shared work; the time from
// the first start to the last end.
static double onThreads(LPTHREAD_START_ROUTINE routine, SharedWork* work, int threadCount) {
    HANDLE threads[BENCH_MAX_THREADS];
    int started = 0;
    double start = nowMs();
    for (; started < threadCount; ++started) {
        threads[started] = CreateThread(nullptr, 0, routine, work, 0, nullptr);
        if (!threads[started]) break;
    }
    if (started < threadCount) routine(work);
    if (started > 0) WaitForMultipleObjects((DWORD)started, threads, TRUE, INFINITE);
    double elapsed = nowMs() - start;
    for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
    return elapsed;
}

static int clampThreads(const char* text) {
    int threads = atoi(text);
    return threads < 1 ? 1 : threads > BENCH_MAX_THREADS ? BENCH_MAX_THREADS : threads;
}

static uint32_t pieceSize(const char* text) {
    unsigned long size = strtoul(text, nullptr, 10);
    return size < 1 ? 1 : size > DOWNLOAD_BUFFER_SIZE ? (uint32_t)DOWNLOAD_BUFFER_SIZE : (uint32_t)size;
}

static int commandHashFiles(const char* clientDir, const char* manifestFile, int threads) {
    FileList list;
    if (!readFileList(manifestFile, &list)) return 1;
    SharedWork work = {};
    work.list = &list;
    work.clientDir = clientDir;
    printf("ms=%.3f\n", onThreads(hashFiles, &work, threads));
    printf("files=%d\n", list.count);
    printf("failed=%ld\n", work.failed);
    freeFileList(&list);
    return work.failed == 0 ? 0 : 1;
}

static int commandHashMemory(int32_t files, uint64_t size, uint32_t pieceSize, int threads) {
    FileList list = {};
    list.count = files;
    SharedWork work = {};
    work.list = &list;
    work.bytesEach = size;
    work.pieceSize = pieceSize;
    printf("ms=%.3f\n", onThreads(hashMemory, &work, threads));
    printf("failed=%ld\n", work.failed);
    return work.failed == 0 ? 0 : 1;
}

static int commandHash(const char* path) {
    char digest[DIGEST_TEXT_SIZE];
    double start = nowMs();
    int hashed = fileSha256Hex(path, digest);
    double elapsed = nowMs() - start;
    if (!hashed) return 1;
    printf("ms=%.3f\n", elapsed);
    printf("sha256=%s\n", digest);
    return 0;
}

// The transfers alone, one file after the other, the bytes dropped: through
// the engine's HTTP calls as a download worker makes them, or (whole) with
// the body read by InternetReadFile into the whole buffer, as the library
// allows at best.
static int commandTransfers(const char* updateUrl, const char* manifestFile, int whole) {
    FileList list;
    if (!readFileList(manifestFile, &list)) return 1;
    char* buffer = (char*)malloc(DOWNLOAD_BUFFER_SIZE);
    // The engine's requests work asynchronously; whole-buffer reads need a synchronous session.
    HINTERNET internet =
        whole ? InternetOpenA("OrvelBench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0) : nullptr;
    int ready = buffer && (internet || !whole);
    char url[FILE_URL_SIZE];
    int32_t failed = 0, reads = 0;
    double start = nowMs();
    for (int32_t i = 0; ready && i < list.count; ++i) {
        HttpRequest request;
        Failure failure;
        uint64_t have = 0;
        uint32_t got = 0;
        buildFileUrl(url, updateUrl, list.entries[i].path);
        HINTERNET plain =
            whole ? InternetOpenUrlA(internet, url, nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                  : nullptr;
        int good = whole ? plain != nullptr : httpSend(url, 0, &request, &failure) && request.status == 200;
        while (good) {
            DWORD bytesRead = 0;
            if (whole) {
                good = InternetReadFile(plain, buffer, DOWNLOAD_BUFFER_SIZE, &bytesRead);
                got = bytesRead;
            } else {
                const char* data = nullptr;
                good = httpRead(&request, UINT32_MAX, &data, &got, &failure);
            }
            if (!good || got == 0) break;
            have += got;
            ++reads;
        }
        if (whole && plain) InternetCloseHandle(plain);
        if (!whole) httpClose(&request);
        failed += good && have == list.entries[i].size ? 0 : 1;
    }
    double elapsed = nowMs() - start;
    printf("ms=%.3f\n", elapsed);
    printf("files=%d\n", list.count);
    printf("reads=%d\n", reads);
    printf("failed=%d\n", failed);
    int result = ready && failed == 0 ? 0 : 1;
    if (internet) InternetCloseHandle(internet);
    free(buffer);
    freeFileList(&list);
    return result;
}

// The file system's part of a download, with the calls a download worker
// makes for a file into an empty client folder: its folders, the checks that
// it is none of the launcher's files, the .part written in pieces of the
// workers' buffer, and the move over the target. One file after the other.
static int commandWrites(const char* clientDir, const char* manifestFile, uint32_t pieceSize) {
    FileList list;
    if (!readFileList(manifestFile, &list)) return 1;
    if (!formatText(launcherState.clientDir, sizeof(launcherState.clientDir), "%s", clientDir)) return 1;
    OwnFiles ownFiles;
    collectOwnFiles(&ownFiles);
    char* buffer = (char*)calloc(1, DOWNLOAD_BUFFER_SIZE);
    char target[LOCAL_PATH_SIZE], part[LOCAL_PATH_SIZE];
    int32_t failed = 0;
    double start = nowMs();
    for (int32_t i = 0; buffer && i < list.count; ++i) {
        uint64_t size = list.entries[i].size;
        if (!buildJobPaths(clientDir, list.entries[i].path, target, part)) {
            ++failed;
            continue;
        }
        for (char* p = target; *p; ++p) {
            if (*p != '\\') continue;
            *p = 0;
            CreateDirectoryA(target, nullptr);
            *p = '\\';
        }
        int good = !isOwnFile(&ownFiles, target) && !isOwnFile(&ownFiles, part);
        SetFileAttributesA(part, FILE_ATTRIBUTE_NORMAL);
        HANDLE file = CreateFileA(part, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        LARGE_INTEGER existing = {};
        good = good && file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &existing) && existing.QuadPart == 0;
        for (uint64_t left = size; good && left > 0;) {
            DWORD piece = left < pieceSize ? (DWORD)left : pieceSize, written = 0;
            good = WriteFile(file, buffer, piece, &written, nullptr) && written == piece;
            left -= piece;
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        good = good && !isOwnFile(&ownFiles, target);
        SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
        good = good && MoveFileExA(part, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        failed += good ? 0 : 1;
    }
    double elapsed = nowMs() - start;
    printf("ms=%.3f\n", elapsed);
    printf("files=%d\n", list.count);
    printf("failed=%d\n", failed);
    int result = buffer && failed == 0 ? 0 : 1;
    free(buffer);
    freeFileList(&list);
    return result;
}

// The match of a delta alone, one file after the other on one thread: the
// old copy at the manifest line's path read in the workers' pieces and
// matched against the index of the line's digest. The indexes are read
// before the clock starts.
static int commandMatch(const char* clientDir, const char* manifestFile, const char* objectsDir, uint32_t blockSize) {
    FileList list;
    if (!readFileList(manifestFile, &list)) return 1;
    char* buffer = (char*)malloc(DOWNLOAD_BUFFER_SIZE);
    char path[LOCAL_PATH_SIZE];
    int32_t failed = 0;
    uint64_t read = 0, found = 0;
    double elapsed = 0;
    for (int32_t i = 0; buffer && i < list.count; ++i) {
        const ManifestEntry& entry = list.entries[i];
        size_t length = blockIndexLength(entry.size, blockSize);
        unsigned char* bytes = (unsigned char*)malloc(length ? length : 1);
        DWORD got = 0;
        HANDLE file = INVALID_HANDLE_VALUE;
        BlockIndex index;
        BlockMatch match = {};
        BlockPlan plan = {};
        int good =
            bytes && formatText(path, sizeof(path), "%s\\%.2s\\%s.blocks", objectsDir, entry.sha256, entry.sha256);
        if (good) file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        good = good && file != INVALID_HANDLE_VALUE && ReadFile(file, bytes, (DWORD)length, &got, nullptr) &&
               readBlockIndex(bytes, got, entry.size, blockSize, entry.sha256, &index) &&
               beginBlockMatch(&match, &index);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        file = good && buildLocalPath(path, clientDir, entry.path)
                   ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                 nullptr)
                   : INVALID_HANDLE_VALUE;
        double start = nowMs();
        while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, DOWNLOAD_BUFFER_SIZE, &got, nullptr) && got > 0 &&
               addBlockMatchBytes(&match, buffer, got)) {
            read += got;
        }
        good = file != INVALID_HANDLE_VALUE && finishBlockMatch(&match) && planBlocks(&match, &plan);
        elapsed += nowMs() - start;
        if (good) found += entry.size - plan.fetchBytes;
        failed += good ? 0 : 1;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        freeBlockPlan(&plan);
        endBlockMatch(&match);
        free(bytes);
    }
    printf("ms=%.3f\n", elapsed);
    printf("read=%llu\n", (unsigned long long)read);
    printf("found=%llu\n", (unsigned long long)found);
    printf("failed=%d\n", failed);
    free(buffer);
    freeFileList(&list);
    return failed == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&benchFrequency);
    httpInit();
    int result = 2;
    const char* command = argc > 1 ? argv[1] : "";
    if (argc == 5 && strcmp(command, "run") == 0) {
        result = commandRun(argv[2], argv[3], atoi(argv[4]));
    } else if (argc == 4 && strcmp(command, "pieces") == 0) {
        result = commandPieces(argv[2], argv[3]);
    } else if (argc == 4 && (strcmp(command, "attrs") == 0 || strcmp(command, "listings") == 0)) {
        result = commandQueries(argv[2], argv[3], strcmp(command, "listings") == 0);
    } else if (argc == 5 && strcmp(command, "hashfiles") == 0) {
        result = commandHashFiles(argv[2], argv[3], clampThreads(argv[4]));
    } else if (argc == 3 && strcmp(command, "hash") == 0) {
        result = commandHash(argv[2]);
    } else if (argc == 6 && strcmp(command, "hashmemory") == 0) {
        result =
            commandHashMemory(atoi(argv[2]), strtoull(argv[3], nullptr, 10), pieceSize(argv[4]), clampThreads(argv[5]));
    } else if (argc == 5 && strcmp(command, "transfers") == 0) {
        result = commandTransfers(argv[2], argv[3], atoi(argv[4]));
    } else if (argc == 5 && strcmp(command, "writes") == 0) {
        result = commandWrites(argv[2], argv[3], pieceSize(argv[4]));
    } else if (argc == 6 && strcmp(command, "match") == 0) {
        result = commandMatch(argv[2], argv[3], argv[4], (uint32_t)strtoul(argv[5], nullptr, 10));
    } else {
        fprintf(
            stderr,
            "usage: bench_run run CLIENT_DIR UPDATE_URL FULLVERIFY | pieces CLIENT_DIR UPDATE_URL |\n"
            "       attrs CLIENT_DIR MANIFEST_FILE | listings CLIENT_DIR MANIFEST_FILE |\n"
            "       hashfiles CLIENT_DIR MANIFEST_FILE THREADS | hash FILE |\n"
            "       hashmemory FILES SIZE PIECE THREADS | transfers UPDATE_URL MANIFEST_FILE WHOLE |\n"
            "       writes CLIENT_DIR MANIFEST_FILE PIECE | match CLIENT_DIR MANIFEST_FILE OBJECTS_DIR BLOCK_SIZE\n");
    }
    fflush(stdout);
    return result;
}
