#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "shell/Threads.h"
#include "update/Cache.h"
#include "update/Check.h"
#include "update/ClientPath.h"
#include "update/Digest.h"
#include "update/Download.h"
#include "update/FolderListing.h"
#include "update/PathSet.h"
#include "update/RunLog.h"
#include "update/Status.h"

int32_t gHashThreads = 0;

enum {
    CHECK_REPORT_EVERY = 20,
    CHECK_BLOCK_SIZE = 4096,  // items per block; blocks never move once made
    CHECK_MAX_HASH_THREADS = 8,
    CHECK_LIST_AFTER_QUERIES = 2  // a folder is listed once two of its files were asked for singly
};

enum { ITEM_JOB, ITEM_TO_HASH, ITEM_HASHED, ITEM_UNREADABLE };

// A line that the cache could not decide at once: 84 bytes, whatever the
// line, which stays in the manifest's text.
struct CheckItem {
    uint32_t line;        // offset of the manifest line, cut in place
    volatile LONG state;  // decided once it is no longer ITEM_TO_HASH
    WriteTime writeTime;
    char digest[DIGEST_TEXT_SIZE];
};

struct ReportPoint {
    int32_t lineIndex;
    uint32_t itemsBefore;  // shown once every earlier item is decided
};

struct Check {
    const char* manifest;
    CheckItem** blocks;
    uint32_t blockCount;
    volatile LONG published;   // items the walk has filled
    volatile LONG scanCursor;  // next item a hashing thread looks at
    volatile LONG hashesDone;
    LONG hashCount;
    HANDLE work;      // one unit per item to hash, and one per thread at the end
    HANDLE progress;  // set whenever an item is decided
    ReportPoint* reports;
    uint32_t reportCount, reportCapacity, reportsShown;
    uint32_t decided;  // leading items that are decided
    int32_t lineCount;
    FolderMap folders;
};

static CheckItem* itemAt(const Check* check, uint32_t index) {
    return &check->blocks[index / CHECK_BLOCK_SIZE][index % CHECK_BLOCK_SIZE];
}

static int parseLine(const char* line, ManifestEntry* entry) { return parseManifestFields(line, entry); }

static void hashItem(Check* check, CheckItem* item) {
    ManifestEntry entry;
    char localPath[LOCAL_PATH_SIZE];
    parseLine(check->manifest + item->line, &entry);
    int hashed =
        buildLocalPath(localPath, launcherState.clientDir, entry.path) && fileSha256Hex(localPath, item->digest);
    InterlockedExchange(&item->state, hashed ? ITEM_HASHED : ITEM_UNREADABLE);
    InterlockedIncrement(&check->hashesDone);
    if (check->progress) SetEvent(check->progress);
}

// Hashing threads take the items to hash in walk order; holding a unit of
// work guarantees an untaken one among the published items. Once the walk
// has ended, one more unit per thread lets each leave.
static DWORD WINAPI hashItems(void* argument) {
    Check* check = (Check*)argument;
    for (;;) {
        WaitForSingleObject(check->work, INFINITE);
        for (;;) {
            LONG index = InterlockedIncrement(&check->scanCursor) - 1;
            if (index >= check->published) return 0;
            CheckItem* item = itemAt(check, (uint32_t)index);
            if (item->state != ITEM_TO_HASH) continue;
            hashItem(check, item);
            break;
        }
    }
}

// Shows every report whose earlier items are all decided, in line order.
static void showDueReports(Check* check) {
    while (check->decided < (uint32_t)check->published && itemAt(check, check->decided)->state != ITEM_TO_HASH) {
        ++check->decided;
    }
    for (; check->reportsShown < check->reportCount; ++check->reportsShown) {
        const ReportPoint& report = check->reports[check->reportsShown];
        if (report.itemsBefore > check->decided) break;
        setProgress(check->lineCount ? (int32_t)((int64_t)report.lineIndex * 1000 / check->lineCount) : 0);
        setStatus("Verificando archivos...");
    }
}

static int addReport(Check* check, int32_t lineIndex) {
    if (check->reportCount == check->reportCapacity) {
        uint32_t capacity = check->reportCapacity ? check->reportCapacity * 2 : 256;
        ReportPoint* grown = (ReportPoint*)gCheckReallocate(check->reports, capacity * sizeof(ReportPoint));
        if (!grown) return 0;
        check->reports = grown;
        check->reportCapacity = capacity;
    }
    check->reports[check->reportCount++] = ReportPoint{lineIndex, (uint32_t)check->published};
    return 1;
}

static CheckItem* addItem(Check* check, const char* line, LONG state) {
    uint32_t index = (uint32_t)check->published, block = index / CHECK_BLOCK_SIZE;
    if (block >= check->blockCount) return nullptr;
    if (!check->blocks[block]) {
        check->blocks[block] = (CheckItem*)gCheckReallocate(nullptr, CHECK_BLOCK_SIZE * sizeof(CheckItem));
        if (!check->blocks[block]) return nullptr;
        memset(check->blocks[block], 0, CHECK_BLOCK_SIZE * sizeof(CheckItem));
    }
    CheckItem* item = &check->blocks[block][index % CHECK_BLOCK_SIZE];
    item->line = (uint32_t)(line - check->manifest);
    item->state = state;
    return item;
}

static void listFolder(FolderState* folder) {
    char pattern[LOCAL_PATH_SIZE + 2];
    folder->status = FOLDER_UNLISTABLE;
    if (!formatText(pattern, sizeof(pattern), folder->path[0] ? "%s\\%s\\*" : "%s\\*", launcherState.clientDir,
                    folder->path)) {
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search =
        FindFirstFileExA(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return;
    int complete = 1;
    do {
        ListedFile file = {((uint64_t)found.nFileSizeHigh << 32) | found.nFileSizeLow,
                           {found.ftLastWriteTime.dwLowDateTime, found.ftLastWriteTime.dwHighDateTime},
                           found.dwFileAttributes};
        if (!addListedFile(&folder->listing, found.cFileName, &file)) complete = 0;
    } while (complete && FindNextFileA(search, &found));
    if (complete && GetLastError() != ERROR_NO_MORE_FILES) complete = 0;
    FindClose(search);
    if (!complete) {
        freeListing(&folder->listing);
        return;
    }
    finishListing(&folder->listing);
    folder->status = FOLDER_LISTED;
}

// The size and write time of a client file: from its folder's listing where
// the folder holds several files of the manifest, else asked for on its own.
static int queryFile(Check* check, const char* path, const char* localPath, ListedFile* out) {
    size_t folderLength = 0;
    for (size_t i = 0; path[i]; ++i) {
        if (isClientPathSeparator(path[i])) folderLength = i;
    }
    const char* name = folderLength ? path + folderLength + 1 : path;
    FolderState* folder = folderStateFor(&check->folders, path, folderLength);
    if (folder && folder->status == FOLDER_UNKNOWN && folder->singleQueries >= CHECK_LIST_AFTER_QUERIES) {
        listFolder(folder);
    }
    if (folder && folder->status == FOLDER_LISTED) {
        const ListedFile* listed = findListedFile(&folder->listing, name);
        if (listed) {
            *out = *listed;
            return 1;
        }
    }
    if (folder) ++folder->singleQueries;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(localPath, GetFileExInfoStandard, &data)) return 0;
    *out = ListedFile{((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow,
                      {data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime},
                      data.dwFileAttributes};
    return 1;
}

// ITEM_JOB, ITEM_TO_HASH, or -1 when the local copy is good. A file whose
// size and write time match its cache record is not read at all, unless
// every file is verified.
static int decideAtOnce(Check* check, const ManifestEntry* entry, WriteTime* writeTime) {
    char localPath[LOCAL_PATH_SIZE];
    ListedFile file;
    // A cut path would name another file: download instead, which fails cleanly.
    if (!buildLocalPath(localPath, launcherState.clientDir, entry->path)) return ITEM_JOB;
    if (!queryFile(check, entry->path, localPath, &file) || file.size != entry->size) return ITEM_JOB;
    *writeTime = file.writeTime;
    const CacheEntry* record = findCacheEntry(entry->path);
    if (record && !launcherState.fullVerify && record->size == entry->size &&
        record->writeTime.low == file.writeTime.low && record->writeTime.high == file.writeTime.high) {
        return equalsIgnoreCase(record->sha256, entry->sha256) ? -1 : ITEM_JOB;
    }
    return ITEM_TO_HASH;
}

// A line whose fields read but whose path the launcher never writes: worth a
// line in the log, since the operator can mend it.
static void logSkippedPath(const char* path) {
    int refusal = clientPathRefusal(path, launcherState.ownExeName);
    logEvent("line-skipped", path, "path", clientPathRefusalText(refusal));
}

// Walks the lines; the items go to the hashing threads as they come.
// Returns the number of lines that needed an item but got no memory for it.
static int32_t walkLines(Check* check, char* manifest) {
    int32_t unlisted = 0;
    PathSet seen = {};
    ManifestEntry entry;
    char* line = manifest;
    for (int32_t lineIndex = 0; line; ++lineIndex) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        const char* current = line;
        line = lineFeed ? lineFeed + 1 : nullptr;
        if (!parseLine(current, &entry)) continue;
        if (!isAcceptedManifestPath(entry.path)) {
            logSkippedPath(entry.path);
            continue;
        }
        if (lineIndex % CHECK_REPORT_EVERY == 0 && !addReport(check, lineIndex)) {
            // Without room to remember it, the report is shown now.
            setProgress(check->lineCount ? (int32_t)((int64_t)lineIndex * 1000 / check->lineCount) : 0);
            setStatus("Verificando archivos...");
        }
        // The first line of a path decides; a repeat would have two workers
        // writing one ".part" file.
        if (addPathOnce(&seen, entry.path)) {
            WriteTime writeTime = {};
            int decision = decideAtOnce(check, &entry, &writeTime);
            if (decision >= 0) {
                CheckItem* item = addItem(check, current, decision);
                if (!item) {
                    dropCacheEntry(entry.path);
                    ++unlisted;
                } else {
                    item->writeTime = writeTime;
                    InterlockedIncrement(&check->published);
                    if (decision == ITEM_TO_HASH) {
                        ++check->hashCount;
                        if (check->work) ReleaseSemaphore(check->work, 1, nullptr);
                    }
                }
            }
        }
        showDueReports(check);
    }
    freePathSet(&seen);
    return unlisted;
}

// Every item in manifest order: the hashed ones bring their cache records up
// to date (added in manifest order, as one thread would), the rest become
// jobs. The list takes room for every item at once: it never grows.
static int32_t collectJobs(Check* check, JobList* list) {
    int32_t unlisted = 0;
    ManifestEntry entry;
    list->manifest = check->manifest;
    if (check->published > 0) {
        list->lines = (uint32_t*)gCheckReallocate(nullptr, (size_t)check->published * sizeof(uint32_t));
    }
    for (LONG i = 0; i < check->published; ++i) {
        CheckItem* item = itemAt(check, (uint32_t)i);
        parseLine(check->manifest + item->line, &entry);
        if (item->state == ITEM_HASHED) {
            CacheEntry* record = findCacheEntry(entry.path);
            if (!record) record = addCacheEntry(entry.path);
            if (record) {
                // Kept even when it does not match: a job's record is dropped after the downloads.
                record->size = entry.size;
                record->writeTime = item->writeTime;
                memcpy(record->sha256, item->digest, sizeof(item->digest));
            }
            if (equalsIgnoreCase(item->digest, entry.sha256)) continue;
        }
        if (list->lines) {
            list->lines[list->count++] = item->line;
        } else {
            dropCacheEntry(entry.path);
            ++unlisted;
        }
    }
    return unlisted;
}

static int32_t hashThreadCount() {
    if (gHashThreads > 0) return gHashThreads < CHECK_MAX_HASH_THREADS ? gHashThreads : CHECK_MAX_HASH_THREADS;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int32_t processors = (int32_t)system.dwNumberOfProcessors;
    return processors < 1 ? 1 : processors < CHECK_MAX_HASH_THREADS ? processors : CHECK_MAX_HASH_THREADS;
}

static int32_t countLineFeeds(const char* text) {
    int32_t count = 0;
    for (; *text; ++text) count += *text == '\n';
    return count;
}

int32_t checkManifest(char* manifest, JobList* list) {
    Check check = {};
    check.manifest = manifest;
    HANDLE threads[CHECK_MAX_HASH_THREADS];
    int32_t started = 0, wanted = hashThreadCount(), unlisted = 0;
    check.lineCount = countLineFeeds(manifest);
    uint32_t blockCount = (uint32_t)check.lineCount / CHECK_BLOCK_SIZE + 1;
    check.blocks = (CheckItem**)gCheckReallocate(nullptr, blockCount * sizeof(CheckItem*));
    if (check.blocks) {
        memset(check.blocks, 0, blockCount * sizeof(CheckItem*));
        check.blockCount = blockCount;
    }
    check.work = CreateSemaphoreA(nullptr, 0, LONG_MAX, nullptr);
    check.progress = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (check.work && check.progress) {
        for (; started < wanted; ++started) {
            threads[started] = gStartThread(hashItems, &check);
            if (!threads[started]) break;
        }
    }
    unlisted = walkLines(&check, manifest);
    if (started > 0) {
        ReleaseSemaphore(check.work, started, nullptr);
        while (check.hashesDone < check.hashCount) {
            WaitForSingleObject(check.progress, INFINITE);
            showDueReports(&check);
        }
        WaitForMultipleObjects((DWORD)started, threads, TRUE, INFINITE);
        for (int32_t i = 0; i < started; ++i) CloseHandle(threads[i]);
    } else {
        // Without a thread of its own, the run hashes what is left itself.
        for (LONG i = 0; i < check.published; ++i) {
            CheckItem* item = itemAt(&check, (uint32_t)i);
            if (item->state == ITEM_TO_HASH) hashItem(&check, item);
            showDueReports(&check);
        }
    }
    showDueReports(&check);
    unlisted += collectJobs(&check, list);

    for (uint32_t i = 0; i < check.blockCount; ++i) gCheckReallocate(check.blocks[i], 0);
    gCheckReallocate(check.blocks, 0);
    gCheckReallocate(check.reports, 0);
    freeFolderMap(&check.folders);
    if (check.work) CloseHandle(check.work);
    if (check.progress) CloseHandle(check.progress);
    return unlisted;
}
