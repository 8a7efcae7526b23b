// Real update runs against the local test server (tests/support/server.py
// starts it): a client folder on disk, the run's texts and outcome, the files
// it leaves, its cache file, its log and the server's request log.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Threads.h"
#include "tests/EngineSupport.h"
#include "tests/TestFiles.h"
#include "tests/WinTestSupport.h"
#include "update/BlockIndex.h"
#include "update/Cache.h"
#include "update/Check.h"
#include "update/ClientPath.h"
#include "update/Directives.h"
#include "update/DiskSpace.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/PartFile.h"
#include "update/SelfUpdate.h"
#include "update/Signature.h"
#include "update/Status.h"
#include "update/UpdateRun.h"

namespace {

const char* const NO_SERVER = "Sin conexion con el servidor de actualizaciones. Podes jugar igual.";
const char* const UP_TO_DATE = "Tu cliente esta al dia. Listo para jugar.";

std::string updated(int n) { return "Actualizado: " + std::to_string(n) + " archivo(s). Listo para jugar."; }
std::string failed(int n) { return std::to_string(n) + " archivo(s) no se pudieron actualizar. Proba Reparar."; }
std::string diskFull(int mb) {
    return "Falta espacio en disco: libera " + std::to_string(mb) + " MB y vuelve a intentar.";
}

const HttpLimits DEFAULT_LIMITS = gHttpLimits;
const uint32_t DEFAULT_AHEAD_IDLE_MS = gDeltaAheadIdleMs;
void* (*const DEFAULT_HTTP_REALLOCATE)(void*, size_t) = gHttpReallocate;
void* (*const DEFAULT_CHECK_REALLOCATE)(void*, size_t) = gCheckReallocate;
int (*const DEFAULT_DISK_FREE)(const char*, uint64_t*, uint64_t*) = gDiskFreeBytes;
BOOL (*const DEFAULT_WRITE_PART)(HANDLE, const void*, DWORD, DWORD*) = gWritePart;
const char* const* const BUILT_IN_KEYS = gReleaseKeys;
const int BUILT_IN_KEY_COUNT = gReleaseKeyCount;
// Short enough for a test, long enough for a busy machine's normal transfers.
const HttpLimits SHORT_LIMITS = {5000, 2000, 4000, 2048};

struct Engine : ::testing::Test {
    std::string unixRoot = envOr("ORVEL_TEST_ROOT", "");
    std::string name;
    std::string serverDir;
    std::string clientDir;
    std::string manifest;
    size_t logStart = 0;

    void SetUp() override {
        ASSERT_FALSE(unixRoot.empty()) << "run through tests/support/server.py";
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        serverDir = wineSide(unixRoot) + "\\" + name;
        CreateDirectoryA(serverDir.c_str(), nullptr);
        clientDir = makeTempDir();
        setFaults({});
        logStart = readRequestLog(logPath()).size();

        LauncherState& s = launcherState;
        snprintf(s.clientDir, sizeof(s.clientDir), "%s", clientDir.c_str());
        snprintf(s.ownExeName, sizeof(s.ownExeName), "OrvelLauncher.exe");
        useUrl("http://127.0.0.1:" + envOr("ORVEL_TEST_HTTP_PORT", "0") + "/" + name + "/");
        s.newsCount = 0;
        s.updateRunning = 0;
        clearCache();
        gRetryPauseUnitMs = 10;
        gDeltaAheadIdleMs = DEFAULT_AHEAD_IDLE_MS;
        gReleaseKeyCount = 0;           // unsigned releases, as a launcher built without keys takes them
        gRunningLauncherSha256[0] = 0;  // each test's client folder has a launcher of its own
        gLauncherUpdateTried = 0;
    }
    void TearDown() override {
        gStartThread = defaultStartThread;
        gBeforeInstall = nullptr;
        gHttpReallocate = DEFAULT_HTTP_REALLOCATE;
        gHttpReadObserver = nullptr;
        gCheckReallocate = DEFAULT_CHECK_REALLOCATE;
        gHttpLimits = DEFAULT_LIMITS;
        gReleaseKeys = BUILT_IN_KEYS;
        gReleaseKeyCount = BUILT_IN_KEY_COUNT;
        gHashThreads = 0;
        launcherState.mirrorCount = 0;
        gDiskFreeBytes = DEFAULT_DISK_FREE;
        gWritePart = DEFAULT_WRITE_PART;
        launcherState.maxDownloadKBps = 0;
        setFaults({});
    }

    static HANDLE (*const defaultStartThread)(LPTHREAD_START_ROUTINE, void*);

    void useUrl(const std::string& url) {
        snprintf(launcherState.updateUrl, sizeof(launcherState.updateUrl), "%s", url.c_str());
    }
    std::string logPath() const { return wineSide(envOr("ORVEL_TEST_LOG", "")); }
    std::string local(const std::string& path) const { return clientDir + "\\" + path; }
    std::string urlPath(const std::string& path) const { return "/" + name + "/" + path; }

    // Puts a file on the server and lists it in the manifest.
    void publish(const std::string& path, const std::string& bytes) {
        std::string onServer = path;
        std::replace(onServer.begin(), onServer.end(), '/', '\\');
        writeFileMakingFolders(serverDir + "\\" + onServer, bytes);
        list(sha256OfBytes(bytes), bytes.size(), path);
    }
    void list(const std::string& digest, uint64_t size, const std::string& path) {
        manifest += digest + " " + std::to_string(size) + " " + path + "\r\n";
    }
    void writeManifest() { writeFile(serverDir + "\\manifest.txt", manifest); }
    // Names a launcher build in the manifest and puts it in the store; returns its URL path.
    std::string nameLauncher(const std::string& bytes) {
        std::string digest = sha256OfBytes(bytes), object = "objects/" + digest.substr(0, 2) + "/" + digest;
        writeFileMakingFolders(serverDir + "\\objects\\" + digest.substr(0, 2) + "\\" + digest, bytes);
        manifest = "#launcher " + digest + " " + std::to_string(bytes.size()) + "\r\n" + manifest;
        return object;
    }
    void placeLocal(const std::string& path, const std::string& bytes) { writeFileMakingFolders(local(path), bytes); }
    // {server path under this test's folder, fault object}; "*" for every path.
    void setFaults(const std::vector<std::pair<std::string, std::string>>& faults) {
        std::string json = "{";
        for (const auto& f : faults) {
            json +=
                (json.size() > 1 ? ", \"" : "\"") + (f.first == "*" ? f.first : urlPath(f.first)) + "\": " + f.second;
        }
        writeFile(wineSide(unixRoot) + "\\.faults.json", json + "}");
    }

    // This test's requests, in the order the server finished them, once it has
    // finished all (an abandoned one ends when the server sees it closed).
    std::vector<LoggedRequest> requests() const {
        for (DWORD deadline = GetTickCount() + 10000; GetTickCount() < deadline; Sleep(20)) {
            if (readFile(wineSide(unixRoot) + "\\.inflight") == "0") break;
        }
        std::vector<LoggedRequest> all = readRequestLog(logPath()), mine;
        for (size_t i = logStart; i < all.size(); ++i) {
            if (all[i].path.rfind("/" + name + "/", 0) == 0) mine.push_back(all[i]);
        }
        return mine;
    }
    std::vector<LoggedRequest> requestsOf(const std::string& path) const {
        std::vector<LoggedRequest> of;
        for (const LoggedRequest& r : requests()) {
            if (r.path == urlPath(path)) of.push_back(r);
        }
        return of;
    }
    int requestsFor(const std::string& path) const { return (int)requestsOf(path).size(); }
    int peakInFlight(const std::string& prefix) const {
        int peak = 0;
        for (const LoggedRequest& r : requests()) {
            if (r.path.rfind(urlPath(prefix), 0) == 0) peak = std::max(peak, r.inflight);
        }
        return peak;
    }
    std::string cacheFile() const { return readFile(local("OrvelLauncher.cache")); }
    std::string runLog() const { return readFile(local("OrvelLauncher.log")); }
    // The log's lines for one path, as "event\treason".
    std::vector<std::string> logOf(const std::string& path) const {
        std::vector<std::string> lines;
        std::string log = runLog(), marker = "\t" + path + "\t";
        for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
            size_t start = log.rfind('\t', at - 1) + 1, end = log.find('\t', at + marker.size());
            lines.push_back(log.substr(start, at - start) + "\t" +
                            log.substr(at + marker.size(), end - at - marker.size()));
        }
        return lines;
    }
};

HANDLE (*const Engine::defaultStartThread)(LPTHREAD_START_ROUTINE, void*) = gStartThread;

std::vector<std::string> texts(const RunResult& run) {
    std::vector<std::string> all;
    for (const ObservedStatus& s : run.published) all.push_back(s.text);
    return all;
}

// The runs that end before the manifest: no cache file, no request, progress 0.
TEST_F(Engine, RunsThatEndBeforeTheManifestTouchNothing) {
    const struct {
        std::string url;
        std::vector<std::string> texts;
        WPARAM outcome;
    } cases[] = {
        {"", {"Listo para jugar."}, 1},
        {"http://updates.example.invalid/x/", {"UpdateUrl debe empezar con https://"}, 0},
        // Only the prefix counts: plain HTTP to another local address is refused too.
        {"http://127.0.0.2:" + envOr("ORVEL_TEST_HTTP_PORT", "0") + "/x/", {"UpdateUrl debe empezar con https://"}, 0},
    };
    for (const auto& c : cases) {
        useUrl(c.url);
        RunResult run = runUpdate(0);
        EXPECT_EQ(c.texts, texts(run)) << c.url;
        EXPECT_EQ(1, run.doneMessages);
        EXPECT_EQ(c.outcome, run.outcome);
        EXPECT_EQ(0, launcherState.progressPermille);
    }
    EXPECT_FALSE(fileExists(local("OrvelLauncher.cache")));
    EXPECT_TRUE(requests().empty());
}

// A manifest that cannot be had whole is no manifest: nothing is checked or
// installed, and a passing failure is tried three times.
TEST_F(Engine, AManifestThatCannotBeHadWholeMeansPlayAnyway) {
    gHttpLimits = SHORT_LIMITS;
    writeFile(serverDir + "\\news.txt", "Evento|No se pide\n");
    publish("a.bin", contentOf(3000, 1));
    writeManifest();
    std::string padded = manifest + std::string(200000, '\n');
    writeFile(serverDir + "\\manifest.txt", padded);
    const struct {
        const char* fault;
        int requests;
    } cases[] = {
        {"{\"status\": 404}", 1},
        {"{\"drop_after\": 100000}", 3},                   // cut: shorter than its Content-Length
        {"{\"stall_after\": 1000}", 3},                    // stalled
        {"{\"status\": 503, \"retry_after\": \"0\"}", 3},  // a passing status
        {"{\"length\": 200000000}", 1},                    // over the document limit
    };
    for (const auto& c : cases) {
        size_t before = requests().size();
        setFaults({{"manifest.txt", c.fault}});
        RunResult run = runUpdate(0);
        EXPECT_EQ((std::vector<std::string>{"Buscando actualizaciones...", NO_SERVER}), texts(run)) << c.fault;
        EXPECT_EQ(1u, run.outcome);
        EXPECT_EQ(0, launcherState.progressPermille);
        EXPECT_EQ((size_t)c.requests, requests().size() - before) << c.fault;
    }
    EXPECT_EQ(0, launcherState.newsCount);
    EXPECT_EQ(0, requestsFor("a.bin"));
    EXPECT_FALSE(fileExists(local("OrvelLauncher.cache")));
    EXPECT_NE(std::string::npos, runLog().find("manifest-failed\tmanifest.txt\tcut\tended after 100000 of"));
}

TEST_F(Engine, FullCourseOverLocalhostWithItsTextsInOrder) {
    useUrl("http://localhost:" + envOr("ORVEL_TEST_HTTP_PORT", "0") + "/" + name + "/");
    publish("a.bin", contentOf(3000, 1));
    const char* odd = "data\\my file %41 #1 [a+b]{c}'d;e=f&g.bin";  // a blank and what a URL cannot hold
    publish(odd, contentOf(70000, 2));
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ((std::vector<std::string>{"Buscando actualizaciones...", "Verificando archivos...",
                                        "Descargando 2 archivo(s)...", "Descargando... 2 / 2 archivos (0 / 0 MB)",
                                        updated(2)}),
              texts(run));
    EXPECT_EQ(1, run.doneMessages);
    EXPECT_EQ(1u, run.outcome);
    EXPECT_EQ(1000, run.published.back().progressPermille);
    // Escapes and "/" make the URL, not the local name.
    EXPECT_EQ(1, requestsFor("data/my%20file%20%2541%20%231%20%5Ba%2Bb%5D%7Bc%7D%27d%3Be%3Df%26g.bin"));
    EXPECT_EQ(contentOf(70000, 2), readFile(local(odd)));
    EXPECT_EQ(contentOf(3000, 1), readFile(local("a.bin")));
    ASSERT_FALSE(run.painted.empty());
    EXPECT_EQ(1000, run.painted.back().progressPermille);

    std::vector<LoggedRequest> log = requests();
    ASSERT_EQ(4u, log.size());  // manifest, news (404), two files
    for (const LoggedRequest& r : log) EXPECT_EQ("OrvelLauncher/1.1", r.userAgent) << r.path;
    std::string runLog = this->runLog();
    EXPECT_NE(std::string::npos, runLog.find("\trun-start\t-\tcheck\t")) << runLog;
    EXPECT_NE(std::string::npos, runLog.find("\trun-end\t-\tupdated\t2 updated, 0 failed\r\n")) << runLog;
}

// News is fetched while none is held: a document without any item is asked
// for again by the next run. (The window test sees a repair leave news alone.)
TEST_F(Engine, NewsIsFetchedUntilItHoldsAnItem) {
    writeFile(serverDir + "\\news.txt", "nada que mostrar\n");
    writeManifest();
    runUpdate(0);
    EXPECT_EQ(0, launcherState.newsCount);
    writeFile(serverDir + "\\news.txt", "sin barra\nParche|Nueva zona\r\nTorneo|Sabado\n");
    runUpdate(1);
    ASSERT_EQ(2, launcherState.newsCount);
    EXPECT_STREQ("Nueva zona", launcherState.newsItems[0].headline);
    runUpdate(1);
    EXPECT_EQ(2, requestsFor("news.txt"));
}

// The cache vouches for a file only while size, write time and the manifest's
// digest all agree with its record.
TEST_F(Engine, TheCacheTrustsAFileOnlyAsLongAsItsRecordHolds) {
    for (int i = 0; i < 3; ++i) {
        std::string path = "f" + std::to_string(i) + ".bin";
        publish(path, contentOf(1000 + i, 10 + i));
        placeLocal(path, contentOf(1000 + i, 10 + i));
    }
    publish("empty.bin", "");
    placeLocal("empty.bin", "");
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(UP_TO_DATE, texts(run).back());
    std::string cache = cacheFile();
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(std::string::npos,
                  cache.find(sha256OfBytes(contentOf(1000 + i, 10 + i)) + " " + std::to_string(1000 + i) + " "))
            << cache;
    }
    EXPECT_EQ(3, (int)std::count(cache.begin(), cache.end(), '\n'));  // a file of size 0 is never saved

    // Other bytes of the same size, written later: the new write time sends it to hashing.
    HANDLE file = CreateFileA(local("f0.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME later;
    GetFileTime(file, nullptr, nullptr, &later);
    later.dwHighDateTime += 1;  // about seven minutes later
    DWORD count = 0;
    WriteFile(file, "XXXX", 4, &count, nullptr);
    SetFileTime(file, nullptr, nullptr, &later);
    CloseHandle(file);
    // A new release of a same-size file: the record's digest no longer matches.
    manifest.clear();
    publish("f0.bin", contentOf(1000, 10));
    publish("f1.bin", contentOf(1001, 99));
    list(sha256OfBytes(contentOf(1002, 12)), 1002, "f2.bin");
    writeManifest();
    run = runUpdate(0);
    EXPECT_EQ(updated(2), texts(run).back());
    EXPECT_EQ(contentOf(1000, 10), readFile(local("f0.bin")));
    EXPECT_EQ(contentOf(1001, 99), readFile(local("f1.bin")));
    EXPECT_EQ(0, requestsFor("f2.bin"));
    // Downloaded files have no record until the next run hashes them.
    EXPECT_EQ(std::string::npos, cacheFile().find(" f0.bin"));
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
    EXPECT_NE(std::string::npos, cacheFile().find(sha256OfBytes(contentOf(1001, 99)) + " 1001 "));
}

// A cache file damaged on disk costs hashing, never a wrong verdict.
TEST_F(Engine, ADamagedCacheFileIsReadForWhatItHolds) {
    publish("a.bin", contentOf(4000, 3));
    placeLocal("a.bin", contentOf(4000, 3));
    publish("b.bin", contentOf(5000, 4));
    placeLocal("b.bin", contentOf(5000, 5));
    writeManifest();
    std::string junk = contentOf(3000, 6) + "\r\n" + sha256OfBytes(contentOf(5000, 4)) + " 5000 0 0 b.bin\r\n" +
                       std::string(64, 'f') + " 4000 99";
    placeLocal("OrvelLauncher.cache", junk);
    placeLocal("OrvelLauncher.cache.new", "left by a launcher closed while saving");
    RunResult run = runUpdate(0);
    EXPECT_EQ(updated(1), texts(run).back());
    EXPECT_EQ(contentOf(5000, 4), readFile(local("b.bin")));
    EXPECT_EQ(sha256OfBytes(contentOf(4000, 3)) + " 4000 ", cacheFile().substr(0, 70));
    EXPECT_FALSE(fileExists(local("OrvelLauncher.cache.new")));
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
}

// Every alias of the launcher's own files and every device name is skipped
// without a request; the look-alikes are ordinary files.
TEST_F(Engine, AHostileManifestCannotReachTheLaunchersFilesOrDevices) {
    placeLocal("launcher.ini", "[Launcher]\r\nUpdateUrl=https://mine.example.invalid/\r\n");
    placeLocal("OrvelLauncher.exe", "the launcher");
    std::string hostile = "[Launcher]\r\nUpdateUrl=https://thief.example.invalid/\r\n";
    // One of each kind: the rules' own test holds every spelling.
    for (const char* path : {"launcher.ini.", ".\\launcher.ini", "LAUNCHER.INI", "OrvelLauncher.log\\x",
                             "orvellauncher.exe", "x.bin.part", "nul.txt", "sub\\PRN", "com\xb9"}) {
        list(sha256OfBytes(hostile), hostile.size(), path);
    }
    const char* lookAlikes[] = {"launcher.ini.bak",   "console.txt",           "nullable.dat",     "com10.txt",
                                "sub\\auxiliary.cfg", "OrvelLauncher.exe.txt", "sub\\launcher.ini"};
    for (const char* path : lookAlikes) publish(path, hostile);
    // The executable's 8.3 short name passes every rule of spelling; its identity does not.
    char shortPath[MAX_PATH] = "";
    GetShortPathNameA(local("OrvelLauncher.exe").c_str(), shortPath, sizeof(shortPath));
    std::string alias = strrchr(shortPath, '\\') ? strrchr(shortPath, '\\') + 1 : "OrvelLauncher.exe";
    bool hasAlias = _stricmp(alias.c_str(), "OrvelLauncher.exe") != 0;
    if (hasAlias) publish(alias, hostile);
    writeManifest();
    RunResult run = runUpdate(0);

    EXPECT_EQ(hasAlias ? failed(1) : updated(7), texts(run).back()) << alias;
    EXPECT_EQ("[Launcher]\r\nUpdateUrl=https://mine.example.invalid/\r\n", readFile(local("launcher.ini")));
    EXPECT_EQ("the launcher", readFile(local("OrvelLauncher.exe")));
    for (const char* path : lookAlikes) EXPECT_EQ(hostile, readFile(local(path))) << path;
    std::set<std::string> fetched;
    for (const LoggedRequest& r : requests()) fetched.insert(r.path);
    EXPECT_EQ(9u, fetched.size());  // manifest, news and the look-alikes: the alias is refused before a request
    std::string log = runLog();
    size_t skipped = 0;
    for (size_t at = 0; (at = log.find("\tline-skipped\t", at)) != std::string::npos; ++at) ++skipped;
    EXPECT_EQ(9u, skipped) << log;
    if (hasAlias) {
        EXPECT_EQ(std::vector<std::string>{"file-failed\town-file"}, logOf(alias));
    }
    // A manifest of only refused lines, or of none, is an up-to-date client.
    manifest = "not a manifest line\r\n" + std::string(64, 'a') + " 5 launcher.ini";
    for (int empty = 0; empty < 2; ++empty, manifest.clear()) {
        writeManifest();
        EXPECT_EQ(std::vector<std::string>({"Buscando actualizaciones...", UP_TO_DATE}), texts(runUpdate(0)));
        EXPECT_EQ(1000, launcherState.progressPermille);
        EXPECT_TRUE(fileExists(local("OrvelLauncher.cache")));
    }
}

TEST_F(Engine, JobsRunAtMostEightAtOnce) {
    for (int i = 0; i < 3; ++i) publish("three\\" + std::to_string(i), contentOf(5000, i));
    for (int i = 0; i < 50; ++i) publish("fifty\\" + std::to_string(i), contentOf(2000, i));
    setFaults({{"*", "{\"delay\": 0.25}"}});
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(updated(53), texts(run).back());
    EXPECT_EQ(8, peakInFlight("fifty/"));

    manifest.clear();
    for (int i = 0; i < 3; ++i) publish("three\\" + std::to_string(i), contentOf(5000, i + 10));
    writeManifest();
    logStart = readRequestLog(logPath()).size();
    EXPECT_EQ(updated(3), texts(runUpdate(0)).back());
    EXPECT_EQ(3, peakInFlight("three/"));
}

TEST_F(Engine, TwentyFiveJobsReportAtTenTwentyAndTheLast) {
    // 10,485,760 bytes in all; staggered answers keep the last report the one
    // that carries the full byte count.
    std::vector<std::pair<std::string, std::string>> faults;
    for (int i = 0; i < 25; ++i) {
        publish("p" + std::to_string(i) + ".bin", contentOf(i < 24 ? 419430 : 10485760 - 24 * 419430, 100 + i));
        faults.push_back({"p" + std::to_string(i) + ".bin", "{\"delay\": " + std::to_string(0.06 * i) + "}"});
    }
    setFaults(faults);
    writeManifest();
    RunResult run = runUpdate(0);
    // Byte reports come between; the reports of finished jobs are all there.
    std::set<std::string> shown;
    for (const ObservedStatus& s : run.published) shown.insert(s.text + " " + std::to_string(s.progressPermille));
    for (const char* f : {"10 / 25 archivos (", "20 / 25 archivos (", "25 / 25 archivos (10 / 10 MB) 999"}) {
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const std::string& text) {
            return text.rfind(std::string("Descargando... ") + f, 0) == 0;
        })) << f;
    }
    EXPECT_EQ(updated(25), run.published.back().text);
    EXPECT_EQ(1000, run.published.back().progressPermille);
}

// Failures that trying again cannot mend: each is tried once, leaves its
// target as it was and no ".part", and the log says why.
TEST_F(Engine, FilesThatFailForGoodLeaveTargetsAsTheyWere) {
    const struct {
        const char* path;
        const char* fault;
        size_t served;
        uint64_t listed;  // bytes on the server, size in the manifest
        const char* reason;
    } cases[] = {{"missing.bin", "{\"status\": 404}", 100, 100, "http"},
                 {"huge.bin", "{}", 100, UINT64_MAX, "length"},  // sizes no real file has
                 {"huger.bin", "{}", 100, 4398046510080ull, "length"},
                 {"mismatch.bin", "{}", 500, 500, "digest"},
                 {"shorter.bin", "{}", 999, 1000, "length"},
                 {"longer.bin", "{}", 1001, 1000, "length"},
                 {"declared.bin", "{\"length\": 4000000000}", 1000, 1000, "length"},
                 {"unlisted.bin", "{\"no_length\": true}", 999, 1000, "length"},
                 {"overlong.bin", "{\"no_length\": true}", 1001, 1000, "length"}};
    std::vector<std::pair<std::string, std::string>> faults;
    for (const auto& c : cases) {
        placeLocal(c.path, "old contents");
        writeFileMakingFolders(serverDir + "\\" + c.path, contentOf(c.served, 1));
        std::string listed = contentOf(c.listed < c.served ? c.listed : c.served, strcmp(c.reason, "digest") ? 1 : 2);
        list(sha256OfBytes(listed), c.listed, c.path);
        faults.push_back({c.path, c.fault});
    }
    setFaults(faults);
    writeManifest();
    RunResult run = runUpdate(0);

    EXPECT_EQ(failed(9), texts(run).back());
    EXPECT_EQ(0u, run.outcome);
    for (const ObservedStatus& s : run.published) EXPECT_TRUE(s.progressPermille >= 0 && s.progressPermille <= 1000);
    for (const auto& c : cases) {
        EXPECT_EQ("old contents", readFile(local(c.path))) << c.path;
        EXPECT_FALSE(fileExists(local(std::string(c.path) + ".part"))) << c.path;
        EXPECT_EQ(1, requestsFor(c.path)) << c.path;
        EXPECT_EQ(std::vector<std::string>{std::string("file-failed\t") + c.reason}, logOf(c.path)) << c.path;
    }
    // Failed files lose their cache records and are hashed afresh next time.
    EXPECT_EQ(std::string::npos, cacheFile().find("mismatch.bin"));
}

// A run that trusts the cache does not even open a file it vouches for; a
// repair hashes every file, and finds damage that kept size and write time.
TEST_F(Engine, RepairHashesWhatTheCacheVouchesFor) {
    publish("cached.bin", contentOf(6000, 12));
    placeLocal("cached.bin", contentOf(6000, 12));
    publish("same-size.bin", contentOf(5000, 13));
    placeLocal("same-size.bin", contentOf(5000, 13));
    writeManifest();
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());

    HANDLE file = CreateFileA(local("same-size.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    FILETIME written;
    GetFileTime(file, nullptr, nullptr, &written);
    DWORD count = 0;
    WriteFile(file, "XXXX", 4, &count, nullptr);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    // Nobody else may even read cached.bin now: a repair cannot hash it and has to download it.
    HeldFile held = holdFile(local("cached.bin"), "r", "-");
    ASSERT_NE(nullptr, held.process);
    RunResult trusted = runUpdate(0);
    RunResult repair = runUpdate(1);
    releaseFile(&held);
    EXPECT_EQ(UP_TO_DATE, texts(trusted).back());
    EXPECT_EQ(failed(1), texts(repair).back());
    EXPECT_EQ(contentOf(5000, 13), readFile(local("same-size.bin")));
    EXPECT_EQ(1, requestsFor("cached.bin"));
}

// Hashed on more threads than there are files or cores, a repair decides
// exactly as one thread would: records in manifest order, the first line of a
// path decides, and a progress that only grows.
TEST_F(Engine, ARepairOnManyThreadsDecidesAsOneThreadWould) {
    gHashThreads = 8;
    std::string expectedCache;
    int jobs = 0;
    for (int i = 0; i < 60; ++i) {
        bool inFolder = i % 3 != 0, missing = i % 7 == 3, damaged = i % 11 == 4;
        std::string path = std::string(inFolder ? "data\\" : "") + "f" + std::to_string(100 + i) + ".bin";
        std::string bytes = contentOf(3000 + i * 100, i);
        publish(path, bytes);
        jobs += missing || damaged;
        if (missing) continue;
        // The folder's listing spells some names in other capitals.
        placeLocal(inFolder && i % 5 == 0 ? "DATA\\F" + path.substr(6) : path,
                   damaged ? contentOf(bytes.size(), 99) : bytes);
        if (!damaged) expectedCache += sha256OfBytes(bytes) + " " + std::to_string(bytes.size()) + " ";
    }
    list(sha256OfBytes("other"), 5, "DATA/F101.BIN");  // a second spelling: the first line decides
    writeManifest();
    RunResult run = runUpdate(1);
    EXPECT_EQ(updated(jobs), texts(run).back());
    int32_t last = 0;
    for (const ObservedStatus& s : run.published) {
        if (s.text != "Verificando archivos...") continue;
        EXPECT_GE(s.progressPermille, last);
        last = s.progressPermille;
    }
    EXPECT_GT(last, 900);
    std::string cache = cacheFile(), digests;
    for (size_t at = 0; at < cache.size(); at = cache.find('\n', at) + 1) {
        digests += cache.substr(at, cache.find(' ', cache.find(' ', at) + 1) - at + 1);
    }
    EXPECT_EQ(expectedCache, digests);
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
}

// One job per file as Windows reads its path, and none for a path that would
// not fit: such a job fails without writing anything.
TEST_F(Engine, OneJobPerFileAndNothingWrittenForPathsThatDoNotFit) {
    publish("sub\\twice.bin", contentOf(900, 16));
    list(sha256OfBytes(contentOf(900, 17)), 900, "SUB/TWICE.BIN");
    publish("new/folders/f.bin", contentOf(700, 18));   // written with slashes, into folders not yet there
    std::string room(259 - clientDir.size() - 1, 'x');  // the target fits exactly
    publish("deep\\" + std::string(room.size(), 'y'), contentOf(10, 1));
    publish(room.substr(0, room.size() - 2), contentOf(10, 2));  // ".part" would not fit
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(failed(2), texts(run).back());
    EXPECT_EQ(contentOf(900, 16), readFile(local("sub\\twice.bin")));
    EXPECT_EQ(contentOf(700, 18), readFile(local("new\\folders\\f.bin")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(local("deep").c_str()));
    EXPECT_FALSE(fileExists(local(room.substr(0, room.size() - 2))));
    EXPECT_EQ(4u, requests().size());  // manifest, news, the one twice-listed file and f.bin
    // The first line decides on every run, so the file does not flip.
    runUpdate(1);
    EXPECT_EQ(1, requestsFor("sub/twice.bin"));
}

// The check and its job list hold a bounded multiple of the manifest: a
// million short lines, none of whose files is there, peak at most three times
// the manifest's size plus 64 MiB.
TEST_F(Engine, AMillionLineManifestCostsABoundedMultipleOfItsSize) {
    static std::map<void*, size_t> blocks;
    static size_t live, peak;
    live = peak = 0;
    gCheckReallocate = [](void* block, size_t size) -> void* {
        peak = std::max(peak, live + size);  // a block that grows is copied: both are held for a moment
        live -= block ? blocks[block] : 0;
        blocks.erase(block);
        void* result = size ? realloc(block, size) : (free(block), nullptr);
        if (result) live += blocks[result] = size;
        return result;
    };
    std::string text;
    for (int i = 0; i < 1000000; ++i) text += std::string(64, '0') + " 1 d\\" + std::to_string(i) + "\n";
    // No path fits under so deep a folder: every line becomes a job without a
    // question to the file system, as a path that does not fit always does.
    snprintf(launcherState.clientDir, sizeof(launcherState.clientDir), "C:\\%s", std::string(252, 'd').c_str());
    JobList list = {};
    EXPECT_EQ(0, checkManifest(&text[0], &list));
    takeStatusChanged();  // outside a run no window takes the check's status message
    ASSERT_EQ(1000000, list.count);
    ManifestEntry last = {};
    EXPECT_TRUE(readJob(&list, 999999, &last) && strcmp(last.path, "d\\999999") == 0) << last.path;
    freeJobList(&list);
    EXPECT_EQ(0u, live);
    printf("peak of the check: %.2f x the manifest's %zu bytes\n", (double)peak / text.size(), text.size());
    EXPECT_LE(peak, 3 * text.size() + (64u << 20));
}

// Threads that cannot be created: the run's own thread works the queue, and
// a run that cannot start at all leaves the launcher playable.
TEST_F(Engine, ThreadsThatCannotStartLeaveNoJobBehind) {
    for (int i = 0; i < 12; ++i) publish("w" + std::to_string(i), contentOf(100 + i, i));
    writeManifest();
    static int calls, allowed;
    for (int allow : {0, 3}) {
        allowed = allow;
        calls = 0;
        gStartThread = [](LPTHREAD_START_ROUTINE routine, void* argument) -> HANDLE {
            if (routine == downloadWorker && calls++ >= allowed) return nullptr;
            return CreateThread(nullptr, 0, routine, argument, 0, nullptr);
        };
        for (int i = 0; i < 12; ++i) DeleteFileA(local("w" + std::to_string(i)).c_str());
        EXPECT_EQ(updated(12), texts(runUpdate(0)).back()) << allow;
        for (int i = 0; i < 12; ++i) EXPECT_EQ(contentOf(100 + i, i), readFile(local("w" + std::to_string(i))));
    }
    gStartThread = [](LPTHREAD_START_ROUTINE, void*) -> HANDLE { return nullptr; };
    launcherState.mainWindow = nullptr;
    startUpdateRun(0);
    EXPECT_EQ(0, launcherState.updateRunning);
    EXPECT_EQ(1, launcherState.readyToPlay);
    gStartThread = defaultStartThread;
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(1)).back());  // repair can be tried again
}

// A file streams through a fixed buffer whatever its size, and moves the bar
// while it arrives.
TEST_F(Engine, ALargeFileStreamsThroughAFixedBufferAndShowsItsProgress) {
    static size_t largest;
    largest = 0;
    gHttpReallocate = [](void* block, size_t size) -> void* {
        largest = std::max(largest, size);
        return realloc(block, size);
    };
    publish("large.bin", contentOf(24 << 20, 18));
    setFaults({{"large.bin", "{\"slow\": 1048576}"}});
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(updated(1), texts(run).back());
    EXPECT_EQ(contentOf(24 << 20, 18), readFile(local("large.bin")));
    EXPECT_LE(largest, (size_t)DOWNLOAD_BUFFER_SIZE);
    std::set<int32_t> progress;
    for (const ObservedStatus& s : run.published) {
        if (s.text.rfind("Descargando... 0 / 1 archivos (", 0) == 0) progress.insert(s.progressPermille);
    }
    EXPECT_GE(progress.size(), 3u);
}

// A server that sends nothing, stops half-way or trickles ends the transfer
// within the limits; the file is tried three times, then fails.
TEST_F(Engine, StalledTransfersEndAndTheRunWithThem) {
    gHttpLimits = SHORT_LIMITS;
    publish("silent.bin", contentOf(5000, 20));
    publish("halfway.bin", contentOf(20000, 21));
    publish("drip.bin", contentOf(5000, 22));
    publish("fine.bin", contentOf(5000, 23));
    setFaults({{"silent.bin", "{\"stall_headers\": true}"},
               {"halfway.bin", "{\"stall_after\": 1000}"},
               {"drip.bin", "{\"drip\": 0.2}"}});
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(failed(3), texts(run).back());
    EXPECT_EQ(contentOf(5000, 23), readFile(local("fine.bin")));
    EXPECT_EQ("file-failed\ttimeout", logOf("silent.bin").back());
    EXPECT_EQ("file-failed\tslow", logOf("drip.bin").back());
    EXPECT_EQ(3, requestsFor("halfway.bin"));
    // What arrived is kept, and later tries ask only for the rest.
    EXPECT_EQ("bytes=2000-", requestsOf("halfway.bin").back().range);
    EXPECT_TRUE(fileExists(local("halfway.bin.part")));
}

// What the download path holds, seen through its hooks: the live blocks, and
// the buffer that each wait record's unfinished read may still fill, which
// filledByAnother finds in a block of memory.
std::mutex watchLock;
std::map<const char*, size_t> watchedBlocks;
std::map<const void*, const char*> unfinishedReads;
std::set<const void*> liveWaits;  // records that read, until they end
int watchedWaits, watchViolations;

bool filledByAnother(const char* from, size_t size, const void* owner) {
    for (const auto& read : unfinishedReads) {
        if (read.first != owner && read.second >= from && read.second < from + size) return true;
    }
    return false;
}

// A read that timed out may still complete until the library has closed its
// request for good, which Wine never shows: no buffer such a read may fill is
// freed or read into again while the request's wait record lives.
TEST_F(Engine, ATimedOutReadNeverFillsFreedOrReusedMemory) {
    gHttpLimits = SHORT_LIMITS;
    gHttpReallocate = [](void* block, size_t size) -> void* {
        std::lock_guard<std::mutex> hold(watchLock);
        if (block) {
            watchViolations += filledByAnother((const char*)block, watchedBlocks[(const char*)block], block);
            unfinishedReads.erase(block);  // a record that ends takes its read along
            liveWaits.erase(block);
            watchedBlocks.erase((const char*)block);
        }
        void* result = size ? realloc(block, size) : (free(block), nullptr);
        if (result) watchedBlocks[(const char*)result] = size;
        return result;
    };
    gHttpReadObserver = [](const void* wait, const void* buffer) {
        std::lock_guard<std::mutex> hold(watchLock);
        if (!buffer) return (void)unfinishedReads.erase(wait);
        watchedWaits += liveWaits.insert(wait).second;
        watchViolations += filledByAnother((const char*)buffer, 1, wait);
        unfinishedReads[wait] = (const char*)buffer;
    };
    publish("halfway.bin", contentOf(300000, 60));
    writeManifest();
    setFaults({{"manifest.txt", "{\"stall_after\": 40, \"times\": 1}"},
               {"halfway.bin", "{\"stall_after\": 100000, \"times\": 2}"}});
    EXPECT_EQ(updated(1), texts(runUpdate(0)).back());
    auto waitsLeft = [] { return std::lock_guard<std::mutex>(watchLock), liveWaits.size(); };
    // Every record ends once the library has closed its request.
    for (DWORD deadline = GetTickCount() + 30000; waitsLeft() > 0 && GetTickCount() < deadline; Sleep(20)) {}
    EXPECT_EQ(0u, waitsLeft());
    EXPECT_GE(watchedWaits, 5);  // two fetches of the manifest, three transfers of the file
    EXPECT_EQ(0, watchViolations);
}

// Transfers broken off for a passing reason are tried again in the same run,
// resuming from what arrived; the whole file's digest decides.
TEST_F(Engine, BrokenTransfersResumeInTheSameRun) {
    const size_t large = 64 << 20;
    publish("large.bin", contentOf(large, 30));
    publish("reset.bin", contentOf(300000, 31));
    publish("ignores-range.bin", contentOf(300000, 32));
    publish("busy.bin", contentOf(1000, 34));
    publish("gone.bin", contentOf(1000, 35));
    setFaults({{"large.bin", "{\"drop_after\": " + std::to_string(large / 10 * 9) + ", \"times\": 1}"},
               {"reset.bin", "{\"drop_after\": 100000, \"reset\": true, \"times\": 1}"},
               {"ignores-range.bin", "{\"drop_after\": 100000, \"times\": 1, \"ignore_range\": true}"},
               {"busy.bin", "{\"status\": 503, \"retry_after\": \"1\", \"times\": 2}"},
               {"gone.bin", "{\"status\": 404}"}});
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(failed(1), texts(run).back());
    for (const char* path : {"large.bin", "reset.bin", "ignores-range.bin"}) {
        std::vector<LoggedRequest> tries = requestsOf(path);
        ASSERT_GE(tries.size(), 2u) << path;
        EXPECT_EQ("", tries[0].range) << path;
        EXPECT_EQ(
            std::string("bytes=") + (strcmp(path, "large.bin") == 0 ? std::to_string(large / 10 * 9) : "100000") + "-",
            tries[1].range)
            << path;
    }
    EXPECT_EQ(contentOf(large, 30), readFile(local("large.bin")));
    int sent = 0;
    for (const LoggedRequest& r : requestsOf("large.bin")) sent += r.bytes;
    EXPECT_LT(sent, large * 115 / 100);
    EXPECT_EQ(2, requestsFor("large.bin"));
    EXPECT_EQ(contentOf(300000, 32), readFile(local("ignores-range.bin")));
    EXPECT_EQ(3, requestsFor("busy.bin"));
    EXPECT_EQ(contentOf(1000, 34), readFile(local("busy.bin")));
    EXPECT_EQ(1, requestsFor("gone.bin"));
    EXPECT_EQ((std::vector<std::string>{"retry\thttp", "retry\thttp"}), logOf("busy.bin"));
    EXPECT_EQ((std::vector<std::string>{"retry\tcut", "file-resumed\t-"}), logOf("large.bin"));
}

// A part kept by an earlier run is resumed; one with the wrong bytes is
// fetched whole once more and never replaces the target unchecked. Between
// the check and the move nobody can rewrite a verified part or put another
// file under its name, and a target held for a moment is tried again.
TEST_F(Engine, PartsKeptByAnEarlierRunAreResumedOrStartedOver) {
    static std::string other;
    static HeldFile moment;
    std::string good = contentOf(400000, 40);
    other = contentOf(400000, 41);
    publish("resumed.bin", good);
    publish("wrong.bin", good);
    publish("complete-but-wrong.bin", good);
    publish("shifted.bin", good);
    setFaults({{"shifted.bin", "{\"range_shift\": 10}"}});
    placeLocal("resumed.bin.part", good.substr(0, 150000));
    placeLocal("shifted.bin.part", good.substr(0, 150000));
    placeLocal("wrong.bin.part", other.substr(0, 150000));
    placeLocal("complete-but-wrong.bin", "old");
    placeLocal("complete-but-wrong.bin.part", other);
    // Read-only targets and parts never block a download; a part longer than the file is discarded.
    publish("readonly.bin", good);
    placeLocal("readonly.bin", other);
    publish("leftover.bin", good);
    placeLocal("leftover.bin.part", good + good);
    for (const char* path : {"readonly.bin", "leftover.bin.part"}) {
        SetFileAttributesA(local(path).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    // A target held by a running program keeps its verified part for the next run; one held for a moment does not.
    for (const char* path : {"inuse.bin", "held.bin", "rewritten.bin", "renamed.bin"}) publish(path, good);
    placeLocal("inuse.bin", "running program");
    placeLocal("held.bin", "running program");
    writeManifest();
    HeldFile held = holdFile(local("inuse.bin"), "r", "rw");  // no delete sharing
    moment = holdFile(local("held.bin"), "r", "rw");
    ASSERT_NE(nullptr, held.process);
    ASSERT_NE(nullptr, moment.process);
    gBeforeInstall = [](const char* target, int attempt) {  // the part rewritten or swapped, held.bin let go
        std::string part = target + std::string(".part");
        if (strstr(target, "rewritten.bin") ||
            (strstr(target, "renamed.bin") && MoveFileA(part.c_str(), (part + ".old").c_str()))) {
            std::ofstream(part, std::ios::binary).write(other.data(), (std::streamsize)other.size());
        }
        if (strstr(target, "held.bin") && attempt == 1) releaseFile(&moment);
    };
    RunResult run = runUpdate(0);
    releaseFile(&held);
    releaseFile(&moment);
    for (const char* p : {"held.bin", "rewritten.bin", "renamed.bin"}) EXPECT_EQ(good, readFile(local(p))) << p;
    EXPECT_EQ(failed(1), texts(run).back());
    EXPECT_EQ("running program", readFile(local("inuse.bin")));
    EXPECT_EQ(std::vector<std::string>{"file-failed\tin-use"}, logOf("inuse.bin"));
    EXPECT_EQ(updated(1), texts(runUpdate(0)).back());  // installed from its part, without a request
    EXPECT_EQ(1, requestsFor("inuse.bin"));
    EXPECT_EQ("", requestsOf("leftover.bin")[0].range);
    for (const char* path : {"resumed.bin", "wrong.bin", "complete-but-wrong.bin", "shifted.bin", "readonly.bin",
                             "leftover.bin", "inuse.bin"}) {
        EXPECT_EQ(good, readFile(local(path))) << path;
        EXPECT_FALSE(fileExists(local(std::string(path) + ".part"))) << path;
    }
    EXPECT_EQ(1, requestsFor("resumed.bin"));
    EXPECT_EQ("bytes=150000-", requestsOf("resumed.bin")[0].range);
    EXPECT_EQ(2, requestsFor("wrong.bin"));
    EXPECT_EQ("", requestsOf("wrong.bin")[1].range);
    EXPECT_EQ(1, requestsFor("complete-but-wrong.bin"));
    // A 206 that does not continue the part exactly starts the file over.
    EXPECT_EQ(2, requestsFor("shifted.bin"));
    EXPECT_EQ("", requestsOf("shifted.bin")[1].range);
}

// Once eight transfers in a row find no server, the rest fail at once.
TEST_F(Engine, AServerThatFallsSilentEndsTheRunSoon) {
    gHttpLimits = SHORT_LIMITS;
    for (int i = 0; i < 40; ++i) publish("many\\" + std::to_string(i), contentOf(100, i));
    setFaults({{"*", "{\"stall_headers\": true}"},
               {"manifest.txt", "{\"stall_headers\": null}"},
               {"news.txt", "{\"stall_headers\": null}"}});
    writeManifest();
    DWORD started = GetTickCount();
    RunResult run = runUpdate(0);
    EXPECT_EQ(failed(40), texts(run).back());
    EXPECT_LT(GetTickCount() - started, 4u * SHORT_LIMITS.receiveMs + 2000);
    EXPECT_LE(requests().size(), 2u + 16u);
    EXPECT_EQ("file-failed\tserver-gone", logOf("many\\39").back());
}

// The tests' disk: diskSize bytes free before the run, less what the run
// writes. A small file system cannot be mounted for a Wine prefix without
// root privileges, so the platform's answers are replaced; all else is real.
uint64_t diskSize;
volatile LONG64 diskWritten;
int testDiskFree(const char*, uint64_t* freeBytes, uint64_t* volumeBytes) {
    *freeBytes = diskSize - (uint64_t)diskWritten;
    *volumeBytes = 1ull << 40;
    return 1;
}
BOOL writeWithinTestDisk(HANDLE file, const void* bytes, DWORD size, DWORD* written) {
    if ((uint64_t)InterlockedAdd64(&diskWritten, size) > diskSize) {
        InterlockedAdd64(&diskWritten, -(LONG64)size);
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return WriteFile(file, bytes, size, written, nullptr);
}

// A disk that surely cannot hold what the run needs ends it before any file
// is requested; near the limit the run goes ahead.
TEST_F(Engine, ADiskTooSmallEndsTheRunBeforeAnyFileIsRequested) {
    const uint64_t MiB = 1 << 20;
    publish("new.bin", contentOf(3 * MiB, 70));
    publish("replaced.bin", contentOf(2 * MiB, 71));
    placeLocal("replaced.bin", contentOf(2 * MiB, 72));
    publish("resumed.bin", contentOf(MiB, 73));
    placeLocal("resumed.bin.part", contentOf(MiB, 73).substr(0, MiB / 2));
    writeManifest();
    gDiskFreeBytes = testDiskFree;
    // 3.5 MiB at least (all installed), 5.5 MiB at most (every part beside its old file).
    const struct {
        uint64_t free;
        std::string text;
        const char* logged;
    } cases[] = {
        {MiB, diskFull(3), "run-end\t-\tdisk-full\tneeds 3670016 bytes at least, 5767168 at most; 1048576 free"},
        {7 * MiB / 2 - 1, diskFull(1), "run-end\t-\tdisk-full\tneeds 3670016 bytes at least"},
        {4 * MiB, updated(3), "disk-space\t-\ttight\tneeds 3670016 bytes at least"}};
    for (const auto& c : cases) {
        diskSize = c.free;
        RunResult run = runUpdate(0);
        EXPECT_EQ(c.text, texts(run).back());
        EXPECT_NE(std::string::npos, runLog().find(c.logged)) << runLog();
        if (c.text == updated(3)) continue;
        EXPECT_EQ(0u, run.outcome);
        EXPECT_EQ(3u, texts(run).size());  // searching, checking, the disk: no download began
        EXPECT_EQ(contentOf(2 * MiB, 72), readFile(local("replaced.bin")));
        EXPECT_EQ(MiB / 2, readFile(local("resumed.bin.part")).size());
    }
    for (const char* path : {"new.bin", "replaced.bin", "resumed.bin"}) EXPECT_EQ(1, requestsFor(path)) << path;
}

// A disk that fills up during the run stops every download at once: targets
// stay as they were, and what arrived waits in the parts for the next run.
TEST_F(Engine, ADiskThatFillsUpStopsEveryDownloadAndTheNextRunResumes) {
    const uint64_t MiB = 1 << 20;
    for (const char* path : {"a.bin", "b.bin"}) {
        publish(path, contentOf(3 * MiB, path[0]));
        placeLocal(path, contentOf(3 * MiB, 99));
    }
    setFaults({{"a.bin", "{\"slow\": 65536}"}, {"b.bin", "{\"slow\": 65536}"}});
    writeManifest();
    // 3 MiB at least, 6 MiB at most: with 4 MiB free the run goes ahead and fills it.
    diskSize = 4 * MiB;
    diskWritten = 0;
    gDiskFreeBytes = testDiskFree;
    gWritePart = writeWithinTestDisk;
    RunResult run = runUpdate(0);
    // 6 MiB less what the parts hold, beyond 4 MiB less the same.
    EXPECT_EQ(diskFull(2), texts(run).back());
    EXPECT_EQ(0u, run.outcome);
    uint64_t held = 0;
    for (const char* path : {"a.bin", "b.bin"}) {
        EXPECT_EQ(contentOf(3 * MiB, 99), readFile(local(path))) << path;
        held += readFile(local(std::string(path) + ".part")).size();
        EXPECT_EQ(std::vector<std::string>{"file-failed\tdisk-full"}, logOf(path)) << path;
    }
    EXPECT_EQ((uint64_t)diskWritten, held);
    EXPECT_NE(std::string::npos, runLog().find("\trun-end\t-\tdisk-full\tthe disk filled up: 2 files"));

    gDiskFreeBytes = DEFAULT_DISK_FREE;
    gWritePart = DEFAULT_WRITE_PART;
    setFaults({});
    EXPECT_EQ(updated(2), texts(runUpdate(0)).back());
    for (const char* path : {"a.bin", "b.bin"}) {
        EXPECT_EQ(contentOf(3 * MiB, path[0]), readFile(local(path))) << path;
        // The first run's requests may end after the second's: the resume is whichever asked for a range.
        std::vector<LoggedRequest> tries = requestsOf(path);
        EXPECT_TRUE(std::any_of(tries.begin(), tries.end(), [](const LoggedRequest& r) { return !r.range.empty(); }))
            << path;
    }
}

// MaxDownloadKBps in launcher.ini holds all workers together to the limit;
// the status line shows the speed and, once it is steady, the time left.
TEST_F(Engine, ASpeedLimitHoldsAllWorkersTogether) {
    for (int i = 0; i < 6; ++i) publish("s" + std::to_string(i), contentOf(1 << 20, 80 + i));
    writeManifest();
    DWORD started = GetTickCount();
    EXPECT_EQ(updated(6), texts(runUpdate(0)).back());
    DWORD unlimited = GetTickCount() - started;

    for (int i = 0; i < 6; ++i) DeleteFileA(local("s" + std::to_string(i)).c_str());
    writeFile(local("launcher.ini"),
              "[Launcher]\r\nUpdateUrl=" + std::string(launcherState.updateUrl) + "\r\nMaxDownloadKBps=512\r\n");
    readConfig();
    ASSERT_EQ(512, launcherState.maxDownloadKBps);
    started = GetTickCount();
    RunResult run = runUpdate(0);
    DWORD limited = GetTickCount() - started;
    EXPECT_EQ(updated(6), texts(run).back());
    EXPECT_GE(limited, 11000u);  // 6 MiB at 512 KiB a second take 12 s
    EXPECT_LT(unlimited * 2, limited);
    int speeds = 0, timesLeft = 0;
    for (const std::string& text : texts(run)) {
        size_t unit = text.find(" KB/s");
        EXPECT_EQ(std::string::npos, text.find(" MB/s")) << text;
        if (unit == std::string::npos) continue;
        ++speeds;
        timesLeft += text.find(" KB/s, quedan ") != std::string::npos;
        // Five seconds at the limit, or two from the start, and what the bucket and the reads may add.
        EXPECT_LE(atof(text.c_str() + text.rfind(", ", unit) + 2), 560) << text;
    }
    EXPECT_GE(speeds, 20);
    EXPECT_GE(timesLeft, 10);
}

// The log keeps the newest lines and stays within its size across runs.
TEST_F(Engine, TheLogStaysWithinItsSize) {
    std::string old;
    for (int i = 0; old.size() < 300 * 1024; ++i)
        old += "2026-01-01T00:00:00Z\told-line\t" + std::to_string(i) + "\r\n";
    placeLocal("OrvelLauncher.log", old);
    publish("missing.bin", "x");
    setFaults({{"missing.bin", "{\"status\": 404}"}});
    writeManifest();
    for (int run = 0; run < 3; ++run) runUpdate(0);
    std::string log = runLog();
    EXPECT_LE(log.size(), 256u * 1024);
    EXPECT_EQ(0u, log.find("2026-01-01T00:00:00Z\told-line\t"));  // starts at a whole line
    EXPECT_EQ(3u, logOf("missing.bin").size());
    EXPECT_FALSE(fileExists(local("OrvelLauncher.log.new")));
}

// The update URL refuses connections and the first mirror has a damaged
// object: every file comes right from the bases that can give it, each base
// asked at most once a file beyond the retries.
TEST_F(Engine, MirrorsStandInForAServerThatIsGoneOrWrong) {
    std::string manifestText = "#objects\r\n", mirrors[] = {serverDir + "\\one", serverDir + "\\two"};
    for (int i = 0; i < 3; ++i) {
        std::string bytes = contentOf(5000 + i, 90 + i), digest = sha256OfBytes(bytes);
        for (const std::string& mirror : mirrors) {
            bool damaged = i == 2 && mirror == mirrors[0];
            writeFileMakingFolders(mirror + "\\objects\\" + digest.substr(0, 2) + "\\" + digest,
                                   damaged ? contentOf(5002, 7) : bytes);
        }
        manifestText += digest + " " + std::to_string(bytes.size()) + " f" + std::to_string(i) + ".bin\r\n";
    }
    for (const std::string& mirror : mirrors) writeFile(mirror + "\\manifest.txt", manifestText);
    std::string base = launcherState.updateUrl;
    useUrl("http://127.0.0.1:9/gone/");  // nothing listens on the discard port
    for (int i = 0; i < 2; ++i) {
        snprintf(launcherState.mirrorUrls[i], CONFIG_URL_SIZE, "%s%s/", base.c_str(), i ? "two" : "one");
    }
    launcherState.mirrorCount = 2;
    RunResult run = runUpdate(0);
    EXPECT_EQ(updated(3), texts(run).back());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sha256OfBytes(contentOf(5000 + i, 90 + i)),
                  sha256OfBytes(readFile(local("f" + std::to_string(i) + ".bin"))));
    }
    std::map<std::string, int> asked;
    for (const LoggedRequest& r : requests()) ++asked[r.path.substr(urlPath("").size(), 3)];
    // The manifest, the news and a file each from the first mirror; the damaged one once more from the second.
    EXPECT_EQ((std::map<std::string, int>{{"one", 5}, {"two", 1}}), asked);
    EXPECT_NE(std::string::npos, runLog().find("\tmanifest-failed\tmanifest.txt\trefused\t"));
    EXPECT_NE(std::string::npos, runLog().find("\tretry\tf2.bin\tdigest\t"));
    EXPECT_NE(std::string::npos, runLog().find("(from " + base + "one/)"));
}

std::string gSeenAtInstall;

// Windows refuses to delete or overwrite a running image, which Wine allows:
// at the install the launcher's name must be free, the running one at ".old".
// The new build (the test game, which notes how it was started) starts from
// the client folder with the launcher's show command; as it ends at once, it
// did not run as a launcher would, and the running one is put back and goes on.
TEST_F(Engine, TheRunningLauncherIsOnlyRenamedAsideAndBackWhenTheNewOneEndsAtOnce) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof(self));
    *strrchr(self, '\\') = 0;
    gSeenAtInstall.clear();
    placeLocal("OrvelLauncher.exe", "the running launcher");
    publish("data.bin", "client data");
    nameLauncher(readFile(std::string(self) + "\\gui\\main.exe") + "appended");
    writeManifest();
    gBeforeInstall = [](const char* target, int) {  // the first install is the launcher's
        if (gSeenAtInstall.empty()) {
            gSeenAtInstall = (fileExists(target) ? "taken, " : "free, ") + readFile(std::string(target) + ".old");
        }
    };
    launcherState.showCommand = SW_SHOWMINNOACTIVE;
    std::vector<std::string> shown = texts(runUpdate(0));

    EXPECT_EQ(std::vector<std::string>({"Buscando actualizaciones...", "Actualizando el launcher..."}),
              std::vector<std::string>(shown.begin(), shown.begin() + 2));
    EXPECT_EQ(updated(1), shown.back());
    EXPECT_EQ("free, the running launcher", gSeenAtInstall);
    EXPECT_EQ("the running launcher", readFile(local("OrvelLauncher.exe")));
    EXPECT_FALSE(fileExists(local("OrvelLauncher.exe.old")));
    EXPECT_EQ(std::vector<std::string>({"launcher-update\t-", "launcher-failed\tstart"}), logOf("OrvelLauncher.exe"));
    EXPECT_EQ(0u, readFile(local("game-started.txt"))
                      .find("cwd=" + clientDir + "|exe=" + local("OrvelLauncher.exe") + "|show=7|"))
        << readFile(local("game-started.txt"));
}

// Whatever holds the launcher or stops the new one, the running launcher
// stays under its name and the run goes on with the client's files: held by
// another program, it is tried for a few seconds and left, the verified
// download kept; a build that cannot start is renamed over by the running
// launcher. A ".old" still held (on Windows, by the old process ending) is
// removed by a later run.
TEST_F(Engine, TheRunningLauncherStaysWhenHeldOrWhenTheNewOneCannotStart) {
    placeLocal("OrvelLauncher.exe", "the running launcher");
    publish("data.bin", "client data");
    std::string object = nameLauncher("no Windows program");
    writeManifest();
    HeldFile held = holdFile(local("OrvelLauncher.exe"), "r", "r");
    ASSERT_TRUE(held.process);
    EXPECT_EQ(updated(1), texts(runUpdate(0)).back());
    releaseFile(&held);
    EXPECT_EQ("no Windows program", readFile(local("OrvelLauncher.exe.part")));
    // A start ten minutes later: the kept download is installed, does not start, and makes way.
    DeleteFileA(local("OrvelLauncher.selfupdate").c_str());
    gLauncherUpdateTried = 0;
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
    EXPECT_EQ("the running launcher", readFile(local("OrvelLauncher.exe")));
    EXPECT_FALSE(fileExists(local("OrvelLauncher.exe.old")) || fileExists(local("OrvelLauncher.exe.part")));
    EXPECT_EQ(1, requestsFor(object));
    EXPECT_EQ(std::vector<std::string>({"launcher-update\t-", "file-failed\tin-use", "launcher-failed\tin-use",
                                        "launcher-update\t-", "launcher-failed\tstart"}),
              logOf("OrvelLauncher.exe"));

    placeLocal("OrvelLauncher.exe.old", "a launcher still ending");
    held = holdFile(local("OrvelLauncher.exe.old"), "r", "rw");
    ASSERT_TRUE(held.process);
    gLauncherUpdateTried = 0;
    runUpdate(0);
    releaseFile(&held);
    runUpdate(0);
    EXPECT_FALSE(fileExists(local("OrvelLauncher.exe.old")));
    EXPECT_EQ(std::vector<std::string>({"launcher-old-kept\tin-use", "launcher-old-removed\t-"}),
              logOf("OrvelLauncher.exe.old"));
}

// ---- Block deltas and local copies

const char* const BLOCKS = "#objects\r\n#blocks 16384 1048576\r\n";
const size_t MiB = 1 << 20;

std::string blockIndexOf(const std::string& bytes, const std::string& digest) {
    BlockIndexWriter writer;
    beginBlockIndex(&writer, BLOCK_SIZE_DEFAULT);
    addBlockIndexBytes(&writer, bytes.data(), bytes.size());
    std::string index = finishBlockIndex(&writer, digest.c_str()) ? std::string((char*)writer.data, writer.length) : "";
    endBlockIndex(&writer);
    return index;
}

// bytes with length new bytes at each offset.
std::string changedAt(std::string bytes, std::initializer_list<size_t> offsets, size_t length, unsigned seed) {
    for (size_t at : offsets) bytes.replace(at, length, contentOf(length, seed++));
    return bytes;
}

std::string objectOf(const std::string& bytes) {
    std::string digest = sha256OfBytes(bytes);
    return "objects/" + digest.substr(0, 2) + "/" + digest;
}

// New bytes for a file, with its write time set back to what it was, or on by a step.
void rewriteAt(const std::string& path, const std::string& bytes, DWORD laterBy) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME written;
    GetFileTime(file, nullptr, nullptr, &written);
    DWORD count = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &count, nullptr);
    written.dwHighDateTime += laterBy;
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
}

struct EngineDelta : Engine {
    void SetUp() override {
        Engine::SetUp();
        manifest = BLOCKS;
    }
    // Puts bytes in the store with a block index beside them (index, when
    // given: what the server holds there instead, nothing when empty) and
    // lists them.
    void publishObject(const std::string& path, const std::string& bytes, const std::string* index = nullptr) {
        std::string digest = sha256OfBytes(bytes), object = serverDir + "\\objects\\" + digest.substr(0, 2);
        writeFileMakingFolders(object + "\\" + digest, bytes);
        if (!index || !index->empty())
            writeFile(object + "\\" + digest + ".blocks", index ? *index : blockIndexOf(bytes, digest));
        list(digest, bytes.size(), path);
    }
};

// A changed file rebuilt from its old copy, and a damaged one healed by
// "Reparar": the index and at most two requests a region that differs, less
// than 5% of the file over the network, and the bar counts every byte.
TEST_F(EngineDelta, UpdatesAndRepairsFetchOnlyTheBlocksThatDiffer) {
    std::string old = contentOf(24 * MiB, 7), next = changedAt(old, {3 * MiB, 9 * MiB + 5, 15 * MiB + 77}, 5000, 30);
    next.insert(20 * MiB + 123, contentOf(3000, 40));  // shifts everything after it
    publishObject("data\\world.pak", next);
    writeManifest();
    const struct {
        std::string local;
        int fullVerify, regions;
    } cases[] = {{old, 0, 4}, {changedAt(next, {MiB + 1, 17 * MiB}, 100, 50), 1, 2}};
    for (const auto& c : cases) {
        placeLocal("data\\world.pak", c.local);
        size_t before = requests().size();
        RunResult run = runUpdate(c.fullVerify);
        EXPECT_EQ(updated(1), texts(run).back());
        EXPECT_EQ(sha256OfBytes(next), sha256OfBytes(readFile(local("data\\world.pak"))));
        std::vector<LoggedRequest> all = requests();
        int ranges = 0, indexes = 0;
        size_t fetched = 0;
        for (size_t i = before; i < all.size(); ++i) {
            bool index = all[i].path == urlPath(objectOf(next) + ".blocks");
            if (!index && all[i].path != urlPath(objectOf(next))) continue;
            (index ? indexes : ranges) += 1;
            fetched += all[i].bytes;
            EXPECT_EQ(index, all[i].range.empty()) << all[i].range;
        }
        EXPECT_EQ(1, indexes);
        EXPECT_LE(ranges, 2 * c.regions);
        EXPECT_LT(fetched, next.size() / 20);
        EXPECT_EQ("file-delta\t-", logOf("data\\world.pak").back());
        EXPECT_TRUE(std::any_of(run.published.begin(), run.published.end(), [](const ObservedStatus& s) {
            return s.text.rfind("Descargando... 1 / 1 archivos (24 / 24 MB", 0) == 0;
        }));
    }
}

// Bytes the cache knows under another path are copied, checked by their
// digest, without a request; a copy that changed since its record is not.
TEST_F(Engine, FilesThatMovedAreCopiedWithoutARequest) {
    const struct {
        const char *from, *to;
        int rewritten;  // 1: later than its record; 2: with its record's size and write time, only the digest tells
        int requests;
    } cases[] = {{"old\\kept.bin", "new/moved.bin", 0, 0},
                 {"old\\rewritten.bin", "new/second.bin", 1, 1},
                 {"old\\damaged.bin", "new/third.bin", 2, 1}};
    for (int i = 0; i < 3; ++i) {
        publish(cases[i].from, contentOf(50000, 90 + i));
        placeLocal(cases[i].from, contentOf(50000, 90 + i));
    }
    writeManifest();
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
    manifest.clear();
    for (int i = 0; i < 3; ++i) {
        const auto& c = cases[i];
        publish(c.to, contentOf(50000, 90 + i));
        if (c.rewritten) rewriteAt(local(c.from), contentOf(50000, 99), c.rewritten == 1);
    }
    writeManifest();
    EXPECT_EQ(updated(3), texts(runUpdate(0)).back());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(contentOf(50000, 90 + i), readFile(local(cases[i].to))) << cases[i].to;
        EXPECT_EQ(cases[i].requests, requestsFor(cases[i].to)) << cases[i].to;
    }
    EXPECT_EQ("file-copied\t-", logOf("new/moved.bin").back());
    EXPECT_EQ("retry\tdigest", logOf("new/third.bin").front());
}

// An index that lies, or a server that answers a range with the whole file,
// ends with the right file fetched whole, and the log says why.
TEST_F(EngineDelta, ABlockIndexThatLiesEndsWithTheFileFetchedWhole) {
    const struct {
        const char *path, *reason;
        size_t requests;  // of the object: the whole file, after a range answered whole
    } cases[] = {{"sums.bin", "digest", 1},
                 {"count.bin", "block-index", 1},
                 {"cut.bin", "block-index", 1},
                 {"missing.bin", "http", 1},
                 {"ignored.bin", "range", 2}};
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) {
        std::string old = contentOf(2 * MiB, 60 + i), next = changedAt(old, {MiB}, 5000, 70 + i);
        std::string digest = sha256OfBytes(next), index = blockIndexOf(next, digest);
        if (i == 0) index = blockIndexOf(old, digest);  // the old blocks' sums under the new file's header
        if (i == 1) index[24] += 1;                     // one block more than the file has
        if (i == 2) index.resize(index.size() - 16);
        if (i == 3) index.clear();  // none on the server
        publishObject(cases[i].path, next, &index);
        placeLocal(cases[i].path, old);
        files.push_back(next);
    }
    setFaults({{objectOf(files[4]), "{\"ignore_range\": true}"}});
    writeManifest();
    EXPECT_EQ(updated(5), texts(runUpdate(0)).back());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(sha256OfBytes(files[i]), sha256OfBytes(readFile(local(cases[i].path)))) << cases[i].path;
        std::vector<LoggedRequest> tries = requestsOf(objectOf(files[i]));
        ASSERT_EQ(cases[i].requests, tries.size()) << cases[i].path;
        EXPECT_EQ(200, tries.back().status) << cases[i].path;
        EXPECT_EQ("delta-failed\t" + std::string(cases[i].reason), logOf(cases[i].path).front()) << cases[i].path;
    }
}

// A delta cut off resumes from what its part holds, in the same run and in
// the next: no byte of the object is asked for twice.
TEST_F(EngineDelta, ADeltaCutOffHalfwayResumesWhereItStopped) {
    std::string old = contentOf(8 * MiB, 80), next = changedAt(old, {3 * MiB}, 2 * MiB, 81);
    publishObject("big.bin", next);
    writeManifest();
    placeLocal("big.bin", old);
    setFaults({{objectOf(next), "{\"drop_after\": 500000, \"times\": 3}"}});
    EXPECT_EQ(failed(1), texts(runUpdate(0)).back());
    setFaults({});
    EXPECT_EQ(updated(1), texts(runUpdate(0)).back());
    EXPECT_EQ(sha256OfBytes(next), sha256OfBytes(readFile(local("big.bin"))));
    std::vector<LoggedRequest> tries = requestsOf(objectOf(next));
    ASSERT_EQ(4u, tries.size());
    uint64_t from = 3 * MiB;
    for (const LoggedRequest& r : tries) {
        EXPECT_EQ("bytes=" + std::to_string(from) + "-" + std::to_string(5 * MiB - 1), r.range);
        from += (uint64_t)r.bytes;
    }
    EXPECT_EQ(5 * MiB, from);
}

// The range after a copy is asked for before the copy and used when its turn
// comes; one that waited too long is asked for again.
TEST_F(EngineDelta, ARangeAskedForAheadIsUsedOrAskedForAgain) {
    std::string old = contentOf(8 * MiB, 82), next = changedAt(old, {3 * MiB}, 5000, 83);
    publishObject("ahead.bin", next);
    writeManifest();
    for (uint32_t idleMs : {DEFAULT_AHEAD_IDLE_MS, 0u}) {
        gDeltaAheadIdleMs = idleMs;
        placeLocal("ahead.bin", old);
        size_t before = requestsOf(objectOf(next)).size();
        EXPECT_EQ(updated(1), texts(runUpdate(0)).back()) << idleMs;
        EXPECT_EQ(sha256OfBytes(next), sha256OfBytes(readFile(local("ahead.bin")))) << idleMs;
        std::vector<LoggedRequest> tries = requestsOf(objectOf(next));
        ASSERT_EQ(before + (idleMs ? 1 : 2), tries.size()) << idleMs;
        for (size_t i = before; i < tries.size(); ++i) EXPECT_EQ(tries[before].range, tries[i].range) << idleMs;
        EXPECT_EQ("file-delta\t-", logOf("ahead.bin").back()) << idleMs;
    }
}

// A launcher built with two release keys installs only what one of them signed.
struct EngineSigned : Engine {
    void SetUp() override {
        Engine::SetUp();
        gReleaseKeyCount = BUILT_IN_KEY_COUNT;
        ASSERT_EQ(2, gReleaseKeyCount);
    }
    // The server's signature of the current manifest, made with a test key.
    std::string signatureBy(const char* key) {
        setFaults({{"manifest.txt.sig", "{\"signed_by\": \"" + std::string(ORVEL_TEST_DATA) + "/" + key + "\"}"}});
        uint32_t length = 0;
        Failure failure;
        char* body =
            httpFetch((launcherState.updateUrl + std::string("manifest.txt.sig")).c_str(), 4096, &length, &failure);
        std::string signature = body ? std::string(body, length) : "";
        free(body);
        setFaults({});
        return signature;
    }
    void serveSignature(const std::string& bytes) { writeFile(serverDir + "\\manifest.txt.sig", bytes); }
};

TEST_F(EngineSigned, OnlyAManifestSignedByAReleaseKeyIsInstalled) {
    publish("main.exe", contentOf(3000, 50));
    writeManifest();
    std::string signedManifest = manifest, good = signatureBy("release-2.key"), foreign = signatureBy("foreign.key");
    ASSERT_GE(good.size(), 8u);
    ASSERT_GE(foreign.size(), 8u);
    manifest[3] = manifest[3] == 'a' ? 'b' : 'a';  // one byte changed after signing
    const struct {
        std::string manifest, signature;
        const char* fault;
    } refused[] = {{manifest, good, "{}"},
                   {signedManifest, foreign, "{}"},
                   {signedManifest, "", "{\"status\": 404}"},
                   {signedManifest, "", "{}"},
                   {signedManifest, good.substr(0, good.size() - 3), "{}"},
                   {signedManifest, good + "x", "{}"}};
    for (const auto& c : refused) {
        writeFile(serverDir + "\\manifest.txt", c.manifest);
        serveSignature(c.signature);
        setFaults({{"manifest.txt.sig", c.fault}});
        size_t before = requests().size();
        RunResult run = runUpdate(0);
        EXPECT_EQ((std::vector<std::string>{"Buscando actualizaciones...",
                                            "La actualizacion no tiene una firma valida. No se instalo nada."}),
                  texts(run));
        EXPECT_EQ(0u, run.outcome);
        EXPECT_EQ(2u, requests().size() - before);  // the manifest and its signature, nothing else
        EXPECT_FALSE(fileExists(local("main.exe")));
        EXPECT_FALSE(fileExists(local("OrvelLauncher.cache")));
    }
    // A signature that cannot be fetched for a network reason or a server error is no server.
    writeFile(serverDir + "\\manifest.txt", signedManifest);
    serveSignature(good);
    for (const char* status : {"503", "505"}) {
        setFaults({{"manifest.txt.sig", std::string("{\"status\": ") + status + "}"}});
        EXPECT_EQ(NO_SERVER, texts(runUpdate(0)).back()) << status;
    }
    setFaults({});
    EXPECT_EQ(updated(1), texts(runUpdate(0)).back());
    EXPECT_EQ(contentOf(3000, 50), readFile(local("main.exe")));

    // A launcher built without keys never asks for a signature.
    gReleaseKeyCount = 0;
    size_t before = requests().size();
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
    for (size_t i = before; i < requests().size(); ++i) EXPECT_NE(urlPath("manifest.txt.sig"), requests()[i].path);
}

// The manifest's own #signature line, made by the server with a test key.
std::string signedInline(EngineSigned* test, const std::string& body, const char* key) {
    writeFile(test->serverDir + "\\manifest.txt", body);
    std::string der = test->signatureBy(key);
    std::vector<char> text(der.size() * 2 + 4);
    encodeBase64((const unsigned char*)der.data(), der.size(), text.data());
    return body + "#signature " + text.data() + "\r\n";
}

// Numbered releases: never an older one, never an expired or unsigned one
// on a keyed launcher; a launcher without keys still never goes back.
TEST_F(EngineSigned, ReleasesAreSignedInlineNumberedAndNeverGoBack) {
    const char* const OLDER = "El servidor ofrece una version anterior a la instalada. No se instalo nada.";
    const char* const EXPIRED = "La actualizacion del servidor vencio. No se instalo nada.";
    const char* const BAD = "La actualizacion no tiene una firma valida. No se instalo nada.";
    // Both releases are in the store; the path alone would name either.
    std::string files3, files2;
    for (auto [bytes, files] : {std::pair{contentOf(3000, 60), &files3}, {contentOf(2000, 61), &files2}}) {
        std::string digest = sha256OfBytes(bytes);
        writeFileMakingFolders(serverDir + "\\objects\\" + digest.substr(0, 2) + "\\" + digest, bytes);
        *files = "#objects\r\n" + digest + " " + std::to_string(bytes.size()) + " main.exe\r\n";
    }
    std::string release3 = signedInline(this, "#release 3\r\n" + files3, "release-2.key");
    std::string tampered = release3;
    tampered[tampered.find("main.exe") - 2] ^= 1;  // a byte of the size field, after signing
    const struct {
        std::string manifest;
        int keys;  // 0: a launcher built without keys
        std::string text;
        WPARAM outcome;
    } cases[] = {
        {release3, 2, updated(1), 1},
        {release3, 2, UP_TO_DATE, 1},  // the same number again is the next start
        {signedInline(this, "#release 2\r\n" + files2, "release-2.key"), 2, OLDER, 1},
        {signedInline(this, files2, "release-1.key"), 2, OLDER, 1},  // no number once one is kept
        {"#release 2\r\n" + files2, 0, OLDER, 1},                    // not even without keys
        {signedInline(this, "#release 4\r\n" + files2, "foreign.key"), 2, BAD, 0},
        {tampered, 2, BAD, 0},
        {signedInline(this, "#release 4x\r\n#release 4\r\n" + files2, "release-1.key"), 2, BAD, 0},
        {signedInline(this, "#release 4\r\n#expires 2020-01-01T00:00:00Z\r\n" + files2, "release-1.key"), 2, EXPIRED,
         1},
        // A launcher without keys ignores what a server could have left out anyway.
        {"#release 4\r\n#expires 2020-01-01T00:00:00Z\r\n#release 4x\r\n" + files2, 0, updated(1), 1},
    };
    for (const auto& c : cases) {
        gReleaseKeyCount = c.keys;
        std::string before = sha256OfBytes(readFile(local("main.exe")));
        writeFile(serverDir + "\\manifest.txt", c.manifest);
        RunResult run = runUpdate(0);
        EXPECT_EQ(c.text, texts(run).back()) << c.manifest;
        EXPECT_EQ(c.outcome, run.outcome) << c.manifest;
        if (c.text != updated(1)) {
            EXPECT_EQ(before, sha256OfBytes(readFile(local("main.exe")))) << c.manifest;
        }
    }
    EXPECT_EQ(sha256OfBytes(contentOf(2000, 61)), sha256OfBytes(readFile(local("main.exe"))));
    EXPECT_EQ(0, requestsFor("main.exe"));  // every file came from the store
    EXPECT_EQ("4\r\n", readFile(local("OrvelLauncher.release")));
    // A damaged record of the kept release counts as none, and says so.
    writeFile(local("OrvelLauncher.release"), "4 or so");
    writeFile(serverDir + "\\manifest.txt", "#release 2\r\n" + files2);
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
    EXPECT_EQ("2\r\n", readFile(local("OrvelLauncher.release")));
    EXPECT_NE(std::string::npos, runLog().find("\trelease-unreadable\tOrvelLauncher.release\tdamaged\t"));
}

struct EngineHttps : Engine {
    void SetUp() override {
        Engine::SetUp();
        if (envOr("ORVEL_TEST_HTTPS_PORT", "").empty()) GTEST_SKIP() << "no HTTPS server: run through server.py --tls";
    }
};

TEST_F(EngineHttps, AWholeRunOverHttpsWithATrustedCertificate) {
    useUrl("HTTPS://localhost:" + envOr("ORVEL_TEST_HTTPS_PORT", "0") + "/" + name + "/");
    publish("secure\\game data.bin", contentOf(150000, 20));
    writeFile(serverDir + "\\news.txt", "Seguro|Por HTTPS\n");
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(updated(1), texts(run).back());
    EXPECT_EQ(1u, run.outcome);
    EXPECT_EQ(contentOf(150000, 20), readFile(local("secure\\game data.bin")));
    EXPECT_EQ(1, launcherState.newsCount);
    std::vector<LoggedRequest> log = requests();
    EXPECT_EQ(3u, log.size());  // manifest, news and the file
    EXPECT_EQ(1, requestsFor("secure/game%20data.bin"));
    for (const LoggedRequest& r : log) {
        EXPECT_TRUE(r.tls) << r.path;
        EXPECT_EQ("OrvelLauncher/1.1", r.userAgent) << r.path;
    }
}

// The library follows a redirect from HTTPS to plain HTTP by itself; where
// the answer came from fails the file. A redirect within HTTPS is followed.
TEST_F(EngineHttps, ARedirectToPlainHttpFailsTheFile) {
    useUrl("https://localhost:" + envOr("ORVEL_TEST_HTTPS_PORT", "0") + "/" + name + "/");
    publish("plain.bin", contentOf(500, 22));
    publish("moved.bin", contentOf(600, 23));
    writeFileMakingFolders(serverDir + "\\elsewhere\\moved.bin", contentOf(600, 23));
    std::string plain = "http://127.0.0.1:" + envOr("ORVEL_TEST_HTTP_PORT", "0") + urlPath("plain.bin");
    setFaults({{"plain.bin", "{\"redirect\": \"" + plain + "\", \"times\": 1}"},
               {"moved.bin", "{\"redirect\": \"" + urlPath("elsewhere/moved.bin") + "\"}"}});
    writeManifest();
    EXPECT_EQ(failed(1), texts(runUpdate(0)).back());
    EXPECT_FALSE(fileExists(local("plain.bin")));
    EXPECT_EQ(std::vector<std::string>{"file-failed\tinsecure-redirect"}, logOf("plain.bin"));
    EXPECT_EQ(contentOf(600, 23), readFile(local("moved.bin")));
}

TEST_F(EngineHttps, AnUntrustedCertificateMeansNoConnection) {
    useUrl("https://localhost:" + envOr("ORVEL_TEST_HTTPS_UNTRUSTED_PORT", "0") + "/" + name + "/");
    publish("x.bin", contentOf(10, 21));
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ((std::vector<std::string>{"Buscando actualizaciones...", NO_SERVER}), texts(run));
    EXPECT_EQ(1u, run.outcome);
    EXPECT_FALSE(fileExists(local("x.bin")));
}

// The test CA is trusted in the HTTPS tests' own prefix alone, never in the shared one.
TEST_F(Engine, TheSharedPrefixTrustsTheHostsRootsButNoTestCa) {
    std::vector<std::string> roots = hostRootNames();
    EXPECT_FALSE(roots.empty());
    for (const std::string& root : roots) EXPECT_EQ(std::string::npos, root.find("Orvel test CA")) << root;
}

TEST_F(EngineHttps, ThisPrefixTrustsTheTestCaAndNoHostRoot) {
    EXPECT_EQ(std::vector<std::string>{"Orvel test CA trusted"}, hostRootNames());
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    httpInit();
    initClientPathRules();
    return RUN_ALL_TESTS();
}
