// The benchmark's Windows side: real update runs and the engine's pieces,
// timed inside one Windows process under the same Wine prefix as the tests.
//   bench_run run CLIENT_DIR UPDATE_URL FULLVERIFY   one whole update run
//   bench_run pieces CLIENT_DIR UPDATE_URL           the warm start's parts
//   bench_run downloadpieces CLIENT_DIR UPDATE_URL   a download's parts, one thread
//   bench_run attrs CLIENT_DIR MANIFEST_FILE         bare GetFileAttributesExA loop
//   bench_run opens CLIENT_DIR MANIFEST_FILE         bare CreateFileA, ReadFile, CloseHandle loop
//   bench_run posts COUNT                            bare PostMessageA loop
//   bench_run hash FILE                              fileSha256Hex on one file
// Every figure goes to standard output as one "key=value" line.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Cache.h"
#include "update/Digest.h"
#include "update/Documents.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/PathSet.h"
#include "update/Status.h"

enum {
    BENCH_RUN_TIMEOUT_MS = 600000,
    BENCH_VERIFY_REPORT_EVERY = 20,  // as the update run reports
    BENCH_DRAIN_EVERY = 100,
    BENCH_PROC_STATUS_SIZE = 8192,
    BENCH_FIRST_READ_SIZE = 4096
};

struct BenchRunState {
    int doneMessages;
    WPARAM outcome;
    int statusMessages;
};

static BenchRunState benchRun;
static LARGE_INTEGER benchFrequency;

static double nowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * 1000.0 / (double)benchFrequency.QuadPart;
}

static LRESULT CALLBACK benchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_STATUS_CHANGED) {
        ++benchRun.statusMessages;
        return 0;
    }
    if (message == WM_UPDATE_DONE) {
        if (benchRun.doneMessages++ == 0) benchRun.outcome = wParam;
        launcherState.updateRunning = 0;
        launcherState.readyToPlay = 1;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND createBenchWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = benchWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OrvelBench";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "OrvelBench", "bench", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

static void drainMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// The same client folder and server as the launcher would read from launcher.ini.
static int configureRun(const char* clientDir, const char* updateUrl) {
    LauncherState& s = launcherState;
    if (!formatText(s.clientDir, sizeof(s.clientDir), "%s", clientDir)) return 0;
    if (!formatText(s.updateUrl, sizeof(s.updateUrl), "%s", updateUrl)) return 0;
    normaliseUpdateUrl(s.updateUrl, sizeof(s.updateUrl));
    s.mainWindow = createBenchWindow();
    return s.mainWindow != nullptr;
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
    double deadline = start + BENCH_RUN_TIMEOUT_MS;
    while (benchRun.doneMessages == 0 && nowMs() < deadline) {
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        DispatchMessageA(&message);
    }
    double elapsed = nowMs() - start;
    char status[STATUS_TEXT_SIZE];
    copyStatusText(status);
    printf("ms=%.3f\n", elapsed);
    printf("done=%d\n", benchRun.doneMessages);
    printf("outcome=%d\n", (int)benchRun.outcome);
    printf("status_messages=%d\n", benchRun.statusMessages);
    printf("status=%s\n", status);
    printMemory();
    return benchRun.doneMessages == 1 ? 0 : 1;
}

// The check the update run makes of one file, with the same calls in the same
// order: attributes, size, cache record, write time.
static int checkLocalFile(const ManifestEntry* entry) {
    char localPath[LOCAL_PATH_SIZE];
    if (!buildLocalPath(localPath, launcherState.clientDir, entry->path)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(localPath, GetFileExInfoStandard, &data)) return 0;
    uint64_t size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    if (size != entry->size) return 0;
    CacheEntry* record = findCacheEntry(entry->path);
    if (!record || record->size != entry->size || record->writeTime.low != data.ftLastWriteTime.dwLowDateTime ||
        record->writeTime.high != data.ftLastWriteTime.dwHighDateTime) {
        return 0;  // would be hashed: the warm start never gets here
    }
    return equalsIgnoreCase(record->sha256, entry->sha256);
}

static int32_t countLineFeeds(const char* text) {
    int32_t count = 0;
    for (; *text; ++text) count += *text == '\n';
    return count;
}

// The warm start taken apart: the update run's steps in its order, with the
// engine's functions, each timed on its own. The manifest loop is the run's
// loop, with a clock around each of its parts.
static int commandPieces(const char* clientDir, const char* updateUrl) {
    if (!configureRun(clientDir, updateUrl)) return 1;
    int result = 1;
    char url[FILE_URL_SIZE];
    uint32_t length = 0;
    char* manifest = nullptr;
    char* news = nullptr;
    PathSet seen = {};
    int32_t lineCount = 0, fileCount = 0, good = 0;
    double parseMs = 0, checkMs = 0, reportMs = 0, t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4 = 0;
    void* internet = nullptr;

    t0 = nowMs();
    internet = httpOpenInternet();
    if (!internet) goto cleanup;
    buildFileUrl(url, launcherState.updateUrl, "manifest.txt");
    manifest = httpFetch(internet, url, &length);
    if (!manifest) goto cleanup;
    buildFileUrl(url, launcherState.updateUrl, "news.txt");
    news = httpFetch(internet, url, &length);
    if (news) parseNews(news);
    t1 = nowMs();
    loadCache();
    t2 = nowMs();

    lineCount = countLineFeeds(manifest);
    {
        ManifestEntry entry;
        char* line = manifest;
        for (int32_t lineIndex = 0; line; ++lineIndex) {
            double start = nowMs();
            char* lineFeed = strchr(line, '\n');
            if (lineFeed) *lineFeed = 0;
            char* next = lineFeed ? lineFeed + 1 : nullptr;
            int parsed = parseManifestLine(line, &entry);
            double parsedAt = nowMs();
            parseMs += parsedAt - start;
            if (parsed) {
                if (lineIndex % BENCH_VERIFY_REPORT_EVERY == 0) {
                    setProgress(lineCount ? (int32_t)((int64_t)lineIndex * 1000 / lineCount) : 0);
                    setStatus("Verificando archivos...");
                    reportMs += nowMs() - parsedAt;
                    // The window thread's work, left out of the figures.
                    if ((lineIndex / BENCH_VERIFY_REPORT_EVERY) % BENCH_DRAIN_EVERY == 0) drainMessages();
                    parsedAt = nowMs();
                }
                int isNew = addPathOnce(&seen, entry.path);
                double addedAt = nowMs();
                parseMs += addedAt - parsedAt;
                if (isNew) {
                    ++fileCount;
                    good += checkLocalFile(&entry);
                    checkMs += nowMs() - addedAt;
                }
            }
            line = next;
        }
    }
    drainMessages();
    t3 = nowMs();
    saveCache();
    t4 = nowMs();

    printf("files=%d\n", fileCount);
    printf("good=%d\n", good);
    printf("fetch_ms=%.3f\n", t1 - t0);
    printf("cache_load_ms=%.3f\n", t2 - t1);
    printf("parse_ms=%.3f\n", parseMs);
    printf("check_ms=%.3f\n", checkMs);
    printf("report_ms=%.3f\n", reportMs);
    printf("cache_save_ms=%.3f\n", t4 - t3);
    printf("loop_ms=%.3f\n", t3 - t2);
    result = good == fileCount ? 0 : 1;

cleanup:
    freePathSet(&seen);
    free(news);
    free(manifest);
    httpCloseInternet(internet);
    return result;
}

// The work of one download job in its pieces, one job after the other on
// this thread: what the platform's library takes (the fetch) and what the
// launcher adds (folders, the .part file, its digest, the move).
static void createFoldersFor(char* target) {
    for (char* p = target; *p; ++p) {
        if (*p != '\\') continue;
        *p = 0;
        CreateDirectoryA(target, nullptr);
        *p = '\\';
    }
}

static int commandDownloadPieces(const char* clientDir, const char* updateUrl) {
    if (!configureRun(clientDir, updateUrl)) return 1;
    int result = 1;
    char url[FILE_URL_SIZE];
    uint32_t length = 0;
    char* manifest = nullptr;
    int32_t done = 0, failed = 0;
    double foldersMs = 0, fetchMs = 0, writeMs = 0, digestMs = 0, moveMs = 0;
    void* internet = httpOpenInternet();
    if (!internet) goto cleanup;
    buildFileUrl(url, launcherState.updateUrl, "manifest.txt");
    manifest = httpFetch(internet, url, &length);
    if (!manifest) goto cleanup;
    for (char* line = manifest; line;) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        ManifestEntry job;
        char target[LOCAL_PATH_SIZE], part[LOCAL_PATH_SIZE], digest[DIGEST_TEXT_SIZE];
        if (parseManifestLine(line, &job) && buildJobPaths(launcherState.clientDir, job.path, target, part)) {
            double t0 = nowMs();
            buildFileUrl(url, launcherState.updateUrl, job.path);
            createFoldersFor(target);
            double t1 = nowMs();
            char* body = httpFetch(internet, url, &length);
            double t2 = nowMs();
            FILE* file = body ? fopen(part, "wb") : nullptr;
            if (file) {
                fwrite(body, 1, length, file);
                fclose(file);
            }
            free(body);
            double t3 = nowMs();
            int good = file && fileSha256Hex(part, digest) && equalsIgnoreCase(digest, job.sha256);
            double t4 = nowMs();
            SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
            good = good && MoveFileExA(part, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            double t5 = nowMs();
            foldersMs += t1 - t0;
            fetchMs += t2 - t1;
            writeMs += t3 - t2;
            digestMs += t4 - t3;
            moveMs += t5 - t4;
            if (good) {
                ++done;
            } else {
                ++failed;
            }
        }
        line = lineFeed ? lineFeed + 1 : nullptr;
    }
    printf("files=%d\n", done);
    printf("failed=%d\n", failed);
    printf("folders_ms=%.3f\n", foldersMs);
    printf("fetch_ms=%.3f\n", fetchMs);
    printf("write_ms=%.3f\n", writeMs);
    printf("digest_ms=%.3f\n", digestMs);
    printf("move_ms=%.3f\n", moveMs);
    result = failed == 0 ? 0 : 1;

cleanup:
    free(manifest);
    httpCloseInternet(internet);
    return result;
}

static char* readWholeFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    char* text = nullptr;
    DWORD size = GetFileSize(file, nullptr), length = 0;
    if (size != INVALID_FILE_SIZE) text = (char*)malloc((size_t)size + 1);
    if (text && ReadFile(file, text, size, &length, nullptr) && length == size) {
        text[length] = 0;
    } else {
        free(text);
        text = nullptr;
    }
    CloseHandle(file);
    return text;
}

// What Wine itself costs per file, over the paths of the manifest, built
// before the clock starts: the attribute query alone ("attrs"), or the open,
// first read and close that fileSha256Hex makes of every file ("opens").
static int commandPathLoop(const char* clientDir, const char* manifestFile, int opens) {
    int result = 1;
    char* manifest = readWholeFile(manifestFile);
    char(*paths)[LOCAL_PATH_SIZE] = nullptr;
    int32_t count = 0, found = 0;
    if (!manifest) goto cleanup;
    paths = (char(*)[LOCAL_PATH_SIZE])malloc(((size_t)countLineFeeds(manifest) + 1) * LOCAL_PATH_SIZE);
    if (!paths) goto cleanup;
    {
        ManifestEntry entry;
        char* line = manifest;
        while (line) {
            char* lineFeed = strchr(line, '\n');
            if (lineFeed) *lineFeed = 0;
            if (parseManifestLine(line, &entry) &&
                formatText(paths[count], LOCAL_PATH_SIZE, "%s\\%s", clientDir, entry.path)) {
                ++count;
            }
            line = lineFeed ? lineFeed + 1 : nullptr;
        }
    }
    {
        double start = nowMs();
        for (int32_t i = 0; i < count; ++i) {
            if (opens) {
                HANDLE file = CreateFileA(paths[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
                if (file == INVALID_HANDLE_VALUE) continue;
                // The first read of a handle is where Wine hands the file over
                // to the process: part of what opening costs it.
                char first[BENCH_FIRST_READ_SIZE];
                DWORD bytesRead = 0;
                found += ReadFile(file, first, sizeof(first), &bytesRead, nullptr) ? 1 : 0;
                CloseHandle(file);
            } else {
                WIN32_FILE_ATTRIBUTE_DATA data;
                found += GetFileAttributesExA(paths[i], GetFileExInfoStandard, &data) ? 1 : 0;
            }
        }
        printf("ms=%.3f\n", nowMs() - start);
    }
    printf("files=%d\n", count);
    printf("found=%d\n", found);
    result = found == count ? 0 : 1;

cleanup:
    free(paths);
    free(manifest);
    return result;
}

// What Wine costs per posted message: count WM_STATUS_CHANGED posts to the
// window, as the progress reports make them. Draining the queue is left out.
static int commandPosts(int32_t count) {
    HWND window = createBenchWindow();
    if (!window) return 1;
    double postMs = 0;
    for (int32_t i = 0; i < count; ++i) {
        double start = nowMs();
        PostMessageA(window, WM_STATUS_CHANGED, 0, 0);
        postMs += nowMs() - start;
        if (i % BENCH_DRAIN_EVERY == 0) drainMessages();
    }
    drainMessages();
    printf("ms=%.3f\n", postMs);
    printf("posted=%d\n", benchRun.statusMessages);
    return benchRun.statusMessages == count ? 0 : 1;
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

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&benchFrequency);
    httpInit();
    int result = 2;
    if (argc == 5 && strcmp(argv[1], "run") == 0) {
        result = commandRun(argv[2], argv[3], atoi(argv[4]));
    } else if (argc == 4 && strcmp(argv[1], "pieces") == 0) {
        result = commandPieces(argv[2], argv[3]);
    } else if (argc == 4 && strcmp(argv[1], "downloadpieces") == 0) {
        result = commandDownloadPieces(argv[2], argv[3]);
    } else if (argc == 4 && strcmp(argv[1], "attrs") == 0) {
        result = commandPathLoop(argv[2], argv[3], 0);
    } else if (argc == 4 && strcmp(argv[1], "opens") == 0) {
        result = commandPathLoop(argv[2], argv[3], 1);
    } else if (argc == 3 && strcmp(argv[1], "posts") == 0) {
        result = commandPosts(atoi(argv[2]));
    } else if (argc == 3 && strcmp(argv[1], "hash") == 0) {
        result = commandHash(argv[2]);
    } else {
        fprintf(stderr,
                "usage: bench_run run CLIENT_DIR UPDATE_URL FULLVERIFY | pieces CLIENT_DIR UPDATE_URL |\n"
                "       downloadpieces CLIENT_DIR UPDATE_URL |\n"
                "       attrs CLIENT_DIR MANIFEST_FILE | opens CLIENT_DIR MANIFEST_FILE | posts COUNT |\n"
                "       hash FILE\n");
    }
    fflush(stdout);
    return result;
}
