// Real update runs against the local test server (tests/support/withservers.py
// starts it): a client folder on disk, the run's texts and outcome, the files
// it leaves, its cache file and the server's request log.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shell/LauncherState.h"
#include "shell/Threads.h"
#include "tests/EngineSupport.h"
#include "tests/TestFiles.h"
#include "tests/WinTestSupport.h"
#include "update/Cache.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/UpdateRun.h"

namespace {

const char* const NO_SERVER = "Sin conexion con el servidor de actualizaciones. Podes jugar igual.";
const char* const UP_TO_DATE = "Tu cliente esta al dia. Listo para jugar.";

struct Engine : ::testing::Test {
    std::string unixRoot = envOr("ORVEL_TEST_ROOT", "");
    std::string name;
    std::string serverDir;
    std::string clientDir;
    std::string manifest;
    size_t logStart = 0;

    void SetUp() override {
        ASSERT_FALSE(unixRoot.empty()) << "run through tests/support/withservers.py";
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        serverDir = wineSide(unixRoot) + "\\" + name;
        CreateDirectoryA(serverDir.c_str(), nullptr);
        clientDir = makeTempDir();
        setFaults("{}");
        logStart = readRequestLog(logPath()).size();

        LauncherState& s = launcherState;
        snprintf(s.clientDir, sizeof(s.clientDir), "%s", clientDir.c_str());
        useUrl("http://127.0.0.1:" + envOr("ORVEL_TEST_HTTP_PORT", "0") + "/" + name + "/");
        s.newsCount = 0;
        s.updateRunning = 0;
        clearCache();
    }
    void TearDown() override {
        startThread = defaultStartThread;
        openUpdateInternet = httpOpenInternet;
        httpReallocate = realloc;
        setFaults("{}");
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
    void list(const std::string& digest, size_t size, const std::string& path) {
        manifest += digest + " " + std::to_string(size) + " " + path + "\r\n";
    }
    void writeManifest() { writeFile(serverDir + "\\manifest.txt", manifest); }
    void placeLocal(const std::string& path, const std::string& bytes) { writeFileMakingFolders(local(path), bytes); }
    void setFaults(const std::string& json) { writeFile(wineSide(unixRoot) + "\\.faults.json", json); }

    // This test's requests, in the order the server finished them.
    std::vector<LoggedRequest> requests() const {
        std::vector<LoggedRequest> all = readRequestLog(logPath()), mine;
        for (size_t i = logStart; i < all.size(); ++i) {
            if (all[i].path.rfind("/" + name + "/", 0) == 0) mine.push_back(all[i]);
        }
        return mine;
    }
    int requestsFor(const std::string& path) const {
        int count = 0;
        for (const LoggedRequest& r : requests()) count += r.path == urlPath(path);
        return count;
    }
    int peakInFlight(const std::string& prefix) const {
        int peak = 0;
        for (const LoggedRequest& r : requests()) {
            if (r.path.rfind(urlPath(prefix), 0) == 0) peak = std::max(peak, r.inflight);
        }
        return peak;
    }
    std::string cacheFile() const { return readFile(local("OrvelLauncher.cache")); }
};

HANDLE (*const Engine::defaultStartThread)(LPTHREAD_START_ROUTINE, void*) = startThread;

std::vector<std::string> texts(const RunResult& run) {
    std::vector<std::string> all;
    for (const ObservedStatus& s : run.published) all.push_back(s.text);
    return all;
}

TEST_F(Engine, WithoutUpdateUrlTheClientIsPlayableAtOnce) {
    useUrl("");
    RunResult run = runUpdate(0);
    EXPECT_EQ(std::vector<std::string>{"Listo para jugar."}, texts(run));
    EXPECT_EQ(1, run.doneMessages);
    EXPECT_EQ(1u, run.outcome);
    EXPECT_FALSE(fileExists(local("OrvelLauncher.cache")));
    EXPECT_EQ(0, launcherState.progressPermille);
}

TEST_F(Engine, PlainHttpToAnotherHostIsRefusedWithoutARequest) {
    useUrl("http://updates.example.invalid/" + name + "/");
    RunResult run = runUpdate(0);
    EXPECT_EQ(std::vector<std::string>{"UpdateUrl debe empezar con https://"}, texts(run));
    EXPECT_EQ(1, run.doneMessages);
    EXPECT_EQ(0u, run.outcome);
    EXPECT_FALSE(fileExists(local("OrvelLauncher.cache")));

    // Only the prefix counts: plain HTTP to another local address is refused too.
    useUrl("http://127.0.0.2:" + envOr("ORVEL_TEST_HTTP_PORT", "0") + "/" + name + "/");
    run = runUpdate(0);
    EXPECT_EQ(0u, run.outcome);
    EXPECT_TRUE(requests().empty());
}

TEST_F(Engine, NoInternetHandleMeansPlayAnyway) {
    openUpdateInternet = []() -> void* { return nullptr; };
    RunResult run = runUpdate(0);
    EXPECT_EQ((std::vector<std::string>{"Buscando actualizaciones...", NO_SERVER}), texts(run));
    EXPECT_EQ(1u, run.outcome);
    EXPECT_TRUE(requests().empty());
    EXPECT_FALSE(fileExists(local("OrvelLauncher.cache")));
}

TEST_F(Engine, MissingManifestMeansPlayAnywayWithoutNewsOrCache) {
    writeFile(serverDir + "\\news.txt", "Evento|No se pide\n");
    RunResult run = runUpdate(0);
    EXPECT_EQ((std::vector<std::string>{"Buscando actualizaciones...", NO_SERVER}), texts(run));
    EXPECT_EQ(1u, run.outcome);
    ASSERT_EQ(1u, requests().size());
    EXPECT_EQ(urlPath("manifest.txt"), requests()[0].path);
    EXPECT_EQ(404, requests()[0].status);
    EXPECT_EQ(0, launcherState.newsCount);
    EXPECT_FALSE(fileExists(local("OrvelLauncher.cache")));
    EXPECT_EQ(0, launcherState.progressPermille);
}

TEST_F(Engine, FullCourseOverLocalhostWithItsTextsInOrder) {
    useUrl("http://localhost:" + envOr("ORVEL_TEST_HTTP_PORT", "0") + "/" + name + "/");
    publish("a.bin", contentOf(3000, 1));
    publish("data\\b.bin", contentOf(70000, 2));
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ((std::vector<std::string>{"Buscando actualizaciones...", "Verificando archivos...",
                                        "Descargando 2 archivo(s)...", "Descargando... 2 / 2 archivos (0 / 0 MB)",
                                        "Actualizado: 2 archivo(s). Listo para jugar."}),
              texts(run));
    EXPECT_EQ(1, run.doneMessages);
    EXPECT_EQ(1u, run.outcome);
    EXPECT_EQ(1000, run.published.back().progressPermille);
    EXPECT_EQ(contentOf(70000, 2), readFile(local("data\\b.bin")));
    EXPECT_EQ(contentOf(3000, 1), readFile(local("a.bin")));
    ASSERT_FALSE(run.painted.empty());
    EXPECT_EQ(1000, run.painted.back().progressPermille);

    std::vector<LoggedRequest> log = requests();
    ASSERT_EQ(4u, log.size());  // manifest, news (404), two files
    for (const LoggedRequest& r : log) EXPECT_EQ("OrvelLauncher/1.1", r.userAgent) << r.path;
}

TEST_F(Engine, NewsIsFetchedOnlyWhileNoneIsHeld) {
    writeFile(serverDir + "\\news.txt", "sin barra\nParche|Nueva zona\r\nTorneo|Sabado\n");
    writeManifest();
    RunResult first = runUpdate(0);
    EXPECT_EQ(1u, first.outcome);
    ASSERT_EQ(2, launcherState.newsCount);
    EXPECT_STREQ("Nueva zona", launcherState.newsItems[0].headline);
    EXPECT_EQ(1, requestsFor("news.txt"));

    RunResult second = runUpdate(1);
    EXPECT_EQ(std::vector<std::string>({"Buscando actualizaciones...", UP_TO_DATE}), texts(second));
    EXPECT_EQ(1, requestsFor("news.txt"));
    EXPECT_EQ(2, requestsFor("manifest.txt"));
    for (const LoggedRequest& r : requests()) EXPECT_EQ("OrvelLauncher/1.1", r.userAgent);
}

TEST_F(Engine, NewsWithoutAnyItemIsAskedForAgain) {
    writeFile(serverDir + "\\news.txt", "nada que mostrar\n");
    writeManifest();
    runUpdate(0);
    EXPECT_EQ(0, launcherState.newsCount);
    runUpdate(1);
    EXPECT_EQ(2, requestsFor("news.txt"));
}

TEST_F(Engine, AnUpToDateClientIsHashedOnceAndThenTrusted) {
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
    EXPECT_EQ(1u, run.outcome);
    EXPECT_EQ(0, requestsFor("f0.bin"));
    std::string cache = cacheFile();
    for (int i = 0; i < 3; ++i) {
        std::string expected = sha256OfBytes(contentOf(1000 + i, 10 + i)) + " " + std::to_string(1000 + i) + " ";
        EXPECT_NE(std::string::npos, cache.find(expected)) << cache;
    }
    EXPECT_EQ(std::string::npos, cache.find("empty.bin"));  // size 0 is never saved
    EXPECT_EQ(3, (int)std::count(cache.begin(), cache.end(), '\n'));
    EXPECT_EQ(3, (int)std::count(cache.begin(), cache.end(), '\r'));
}

TEST_F(Engine, AManifestOfRejectedOrNoLinesMeansUpToDate) {
    manifest = "not a manifest line\r\n" + std::string(64, 'a') + " 5 ..\\escape.bin\r\n" + std::string(64, 'a') +
               " 5 launcher.ini";
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(std::vector<std::string>({"Buscando actualizaciones...", UP_TO_DATE}), texts(run));
    EXPECT_EQ(1u, run.outcome);
    EXPECT_TRUE(fileExists(local("OrvelLauncher.cache")));
    EXPECT_FALSE(fileExists(clientDir + "\\..\\escape.bin"));

    manifest.clear();
    writeManifest();
    run = runUpdate(0);
    EXPECT_EQ(UP_TO_DATE, texts(run).back());
    EXPECT_EQ(1000, launcherState.progressPermille);
}

TEST_F(Engine, ThreeJobsRunThreeAtOnce) {
    std::string faults = "{";
    for (int i = 0; i < 3; ++i) {
        publish("three\\" + std::to_string(i), contentOf(5000, i));
        faults += std::string(i ? "," : "") + "\"" + urlPath("three/" + std::to_string(i)) + "\": {\"delay\": 0.5}";
    }
    setFaults(faults + "}");
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ("Actualizado: 3 archivo(s). Listo para jugar.", texts(run).back());
    EXPECT_EQ(3, peakInFlight("three/"));
}

TEST_F(Engine, FiftyJobsRunEightAtOnce) {
    for (int i = 0; i < 50; ++i) publish("fifty\\" + std::to_string(i), contentOf(2000, i));
    setFaults("{\"*\": {\"delay\": 0.25}}");
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ("Actualizado: 50 archivo(s). Listo para jugar.", texts(run).back());
    EXPECT_EQ(8, peakInFlight("fifty/"));
    EXPECT_EQ(50, (int)requests().size() - 2);
}

TEST_F(Engine, TwentyFiveJobsReportAtTenTwentyAndTheLast) {
    // 10,485,760 bytes in all; staggered answers keep the last report the one
    // that carries the full byte count.
    std::string faults = "{";
    for (int i = 0; i < 25; ++i) {
        size_t size = i < 24 ? 419430 : 10485760 - 24 * 419430;
        std::string path = "p" + std::to_string(i) + ".bin";
        publish(path, contentOf(size, 100 + i));
        faults += std::string(i ? "," : "") + "\"" + urlPath(path) + "\": {\"delay\": " + std::to_string(0.06 * i) + "}";
    }
    setFaults(faults + "}");
    writeManifest();
    RunResult run = runUpdate(0);

    std::vector<ObservedStatus> reports;
    for (const ObservedStatus& s : run.published) {
        if (s.text.rfind("Descargando... ", 0) == 0) reports.push_back(s);
    }
    ASSERT_EQ(3u, reports.size());
    std::vector<std::string> finished;
    for (const ObservedStatus& s : reports) finished.push_back(s.text.substr(15, s.text.find(" /") - 15));
    std::sort(finished.begin(), finished.end());
    EXPECT_EQ((std::vector<std::string>{"10", "20", "25"}), finished);
    auto full = std::find_if(reports.begin(), reports.end(), [](const ObservedStatus& s) {
        return s.text == "Descargando... 25 / 25 archivos (10 / 10 MB)";
    });
    ASSERT_NE(reports.end(), full);
    EXPECT_EQ(999, full->progressPermille);
    EXPECT_EQ("Actualizado: 25 archivo(s). Listo para jugar.", run.published.back().text);
    EXPECT_EQ(1000, run.published.back().progressPermille);
    EXPECT_EQ(1u, run.outcome);
}

TEST_F(Engine, SpacesAndBackslashesBecomeAUrlButNotALocalName) {
    publish("folder\\my file.bin", contentOf(1234, 7));
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ(1u, run.outcome);
    EXPECT_EQ(1, requestsFor("folder/my%20file.bin"));
    EXPECT_EQ(contentOf(1234, 7), readFile(local("folder\\my file.bin")));
    EXPECT_FALSE(fileExists(local("folder\\my file.bin.part")));
}

TEST_F(Engine, FailedDownloadsLeaveTargetsAsTheyWere) {
    placeLocal("mismatch.bin", "old contents");
    writeFileMakingFolders(serverDir + "\\mismatch.bin", contentOf(500, 1));
    list(sha256OfBytes(contentOf(500, 2)), 500, "mismatch.bin");
    publish("missing.bin", contentOf(100, 3));
    publish("broken.bin", contentOf(100, 4));
    publish("dropped.bin", contentOf(300000, 5));
    publish("moved.bin", contentOf(800, 6));
    writeFileMakingFolders(serverDir + "\\elsewhere\\moved.bin", contentOf(800, 6));
    setFaults("{\"" + urlPath("missing.bin") + "\": {\"status\": 404}, \"" + urlPath("broken.bin") +
              "\": {\"status\": 500}, \"" + urlPath("dropped.bin") + "\": {\"drop_after\": 100000}, \"" +
              urlPath("moved.bin") + "\": {\"redirect\": \"" + urlPath("elsewhere/moved.bin") + "\"}}");
    writeManifest();
    RunResult run = runUpdate(0);

    EXPECT_EQ("4 archivo(s) no se pudieron actualizar. Proba Reparar.", texts(run).back());
    EXPECT_EQ(0u, run.outcome);
    EXPECT_EQ("old contents", readFile(local("mismatch.bin")));
    for (const char* path : {"mismatch.bin", "missing.bin", "broken.bin", "dropped.bin"}) {
        EXPECT_FALSE(fileExists(local(std::string(path) + ".part"))) << path;
        if (strcmp(path, "mismatch.bin") != 0) {
            EXPECT_FALSE(fileExists(local(path))) << path;
        }
    }
    EXPECT_EQ(contentOf(800, 6), readFile(local("moved.bin")));
    EXPECT_EQ(1, requestsFor("elsewhere/moved.bin"));
    // Failed files lose their cache records and are hashed afresh next time.
    EXPECT_EQ(std::string::npos, cacheFile().find("mismatch.bin"));
}

TEST_F(Engine, AReadOnlyTargetIsReplaced) {
    publish("readonly.bin", contentOf(4000, 8));
    placeLocal("readonly.bin", contentOf(4000, 9));
    SetFileAttributesA(local("readonly.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ("Actualizado: 1 archivo(s). Listo para jugar.", texts(run).back());
    EXPECT_EQ(contentOf(4000, 8), readFile(local("readonly.bin")));
}

TEST_F(Engine, ATargetInUseStaysAndItsPartFileWaits) {
    publish("inuse.bin", contentOf(4000, 11));
    placeLocal("inuse.bin", "running program");
    writeManifest();
    HeldFile held = holdFile(local("inuse.bin"), "r", "rw");  // no delete sharing
    ASSERT_NE(nullptr, held.process);
    RunResult run = runUpdate(0);
    releaseFile(&held);
    EXPECT_EQ("1 archivo(s) no se pudieron actualizar. Proba Reparar.", texts(run).back());
    EXPECT_EQ(0u, run.outcome);
    EXPECT_EQ("running program", readFile(local("inuse.bin")));
    EXPECT_EQ(contentOf(4000, 11), readFile(local("inuse.bin.part")));
}

TEST_F(Engine, ACachedFileIsNotOpenedUnlessEveryFileIsVerified) {
    publish("cached.bin", contentOf(6000, 12));
    placeLocal("cached.bin", contentOf(6000, 12));
    writeManifest();
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());

    // Nobody else may even read it now: a run that trusts the cache still
    // counts it good, a repair cannot hash it and has to download it.
    HeldFile held = holdFile(local("cached.bin"), "r", "-");
    ASSERT_NE(nullptr, held.process);
    RunResult trusted = runUpdate(0);
    RunResult repair = runUpdate(1);
    releaseFile(&held);
    EXPECT_EQ(UP_TO_DATE, texts(trusted).back());
    EXPECT_EQ(1u, trusted.outcome);
    EXPECT_EQ(0u, repair.outcome);
    EXPECT_EQ(1, requestsFor("cached.bin"));
}

TEST_F(Engine, RepairFindsDamageTheCacheCannotSee) {
    publish("same-size.bin", contentOf(5000, 13));
    placeLocal("same-size.bin", contentOf(5000, 13));
    writeManifest();
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());

    // Same size and write time, other bytes.
    HANDLE file = CreateFileA(local("same-size.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    FILETIME written;
    GetFileTime(file, nullptr, nullptr, &written);
    DWORD count = 0;
    WriteFile(file, "XXXX", 4, &count, nullptr);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);

    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
    RunResult repair = runUpdate(1);
    EXPECT_EQ("Actualizado: 1 archivo(s). Listo para jugar.", texts(repair).back());
    EXPECT_EQ(contentOf(5000, 13), readFile(local("same-size.bin")));
}

TEST_F(Engine, DownloadedFilesAreRecordedOnlyAfterTheNextRunHashesThem) {
    publish("new.bin", contentOf(700, 14));
    publish("kept.bin", contentOf(800, 15));
    placeLocal("kept.bin", contentOf(800, 15));
    writeManifest();
    EXPECT_EQ("Actualizado: 1 archivo(s). Listo para jugar.", texts(runUpdate(0)).back());
    EXPECT_EQ(std::string::npos, cacheFile().find("new.bin"));
    EXPECT_NE(std::string::npos, cacheFile().find("kept.bin"));

    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(0)).back());
    EXPECT_NE(std::string::npos, cacheFile().find(sha256OfBytes(contentOf(700, 14)) + " 700 "));
    EXPECT_EQ(1, requestsFor("new.bin"));
}

TEST_F(Engine, PathsThatDoNotFitFailWithoutWritingAnything) {
    std::string room(259 - clientDir.size() - 1, 'x');  // the target fits exactly
    std::string tooDeep = "deep\\" + std::string(room.size(), 'y');
    std::string noRoomForPart = room.substr(0, room.size() - 2);  // ".part" would not fit
    publish(tooDeep, contentOf(10, 1));
    publish(noRoomForPart, contentOf(10, 2));
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ("2 archivo(s) no se pudieron actualizar. Proba Reparar.", texts(run).back());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(local("deep").c_str()));
    EXPECT_FALSE(fileExists(local(noRoomForPart)));
    EXPECT_EQ(2u, requests().size());  // manifest and news only
}

TEST_F(Engine, APathListedTwiceGivesOneJob) {
    publish("twice.bin", contentOf(900, 16));
    list(sha256OfBytes(contentOf(900, 17)), 900, "TWICE.BIN");
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ("Actualizado: 1 archivo(s). Listo para jugar.", texts(run).back());
    EXPECT_EQ(1, requestsFor("twice.bin"));
    EXPECT_EQ(contentOf(900, 16), readFile(local("twice.bin")));
    // The first line decides on every run, so the file does not flip.
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(1)).back());
}

TEST_F(Engine, WorkersThatCannotStartLeaveNoJobBehind) {
    for (int i = 0; i < 12; ++i) publish("w" + std::to_string(i), contentOf(100 + i, i));
    writeManifest();
    static int calls;
    for (int allow : {0, 3}) {
        // Only the first `allow` workers get a thread; the run itself still starts.
        static int allowed;
        allowed = allow;
        calls = 0;
        startThread = [](LPTHREAD_START_ROUTINE routine, void* argument) -> HANDLE {
            if (routine == downloadWorker && calls++ >= allowed) return nullptr;
            return CreateThread(nullptr, 0, routine, argument, 0, nullptr);
        };
        for (int i = 0; i < 12; ++i) DeleteFileA(local("w" + std::to_string(i)).c_str());
        RunResult run = runUpdate(0);
        EXPECT_EQ("Actualizado: 12 archivo(s). Listo para jugar.", texts(run).back()) << allow;
        for (int i = 0; i < 12; ++i) EXPECT_EQ(contentOf(100 + i, i), readFile(local("w" + std::to_string(i))));
    }
}

TEST_F(Engine, ARunThatCannotStartLeavesTheLauncherPlayable) {
    startThread = [](LPTHREAD_START_ROUTINE, void*) -> HANDLE { return nullptr; };
    launcherState.mainWindow = nullptr;
    startUpdateRun(0);
    EXPECT_EQ(0, launcherState.updateRunning);
    EXPECT_EQ(1, launcherState.readyToPlay);
    startThread = defaultStartThread;
    writeManifest();
    EXPECT_EQ(UP_TO_DATE, texts(runUpdate(1)).back());  // repair can be tried again
}

TEST_F(Engine, ABodyThatCannotBeHeldFailsOnlyItsJob) {
    publish("small.bin", contentOf(1000, 18));
    publish("large.bin", contentOf(200000, 19));
    writeManifest();
    // The first buffer of every fetch is granted; growing one is not.
    httpReallocate = [](void* block, size_t size) -> void* { return block ? nullptr : malloc(size); };
    RunResult run = runUpdate(0);
    httpReallocate = realloc;
    EXPECT_EQ("1 archivo(s) no se pudieron actualizar. Proba Reparar.", texts(run).back());
    EXPECT_EQ(contentOf(1000, 18), readFile(local("small.bin")));
    EXPECT_FALSE(fileExists(local("large.bin")));
    EXPECT_FALSE(fileExists(local("large.bin.part")));
}

struct EngineHttps : Engine {
    void SetUp() override {
        Engine::SetUp();
        if (envOr("ORVEL_TEST_HTTPS_PORT", "").empty()) GTEST_SKIP() << "HTTPS servers not started";
    }
};

TEST_F(EngineHttps, AWholeRunOverHttpsWithATrustedCertificate) {
    useUrl("HTTPS://localhost:" + envOr("ORVEL_TEST_HTTPS_PORT", "0") + "/" + name + "/");
    publish("secure\\game data.bin", contentOf(150000, 20));
    writeFile(serverDir + "\\news.txt", "Seguro|Por HTTPS\n");
    writeManifest();
    RunResult run = runUpdate(0);
    EXPECT_EQ("Actualizado: 1 archivo(s). Listo para jugar.", texts(run).back());
    EXPECT_EQ(1u, run.outcome);
    EXPECT_EQ(contentOf(150000, 20), readFile(local("secure\\game data.bin")));
    EXPECT_EQ(1, launcherState.newsCount);
    std::string access = readFile(wineSide(envOr("ORVEL_TEST_HTTPS_LOG", "")));
    EXPECT_NE(std::string::npos, access.find("/" + name + "/secure/game%20data.bin")) << access;
    EXPECT_NE(std::string::npos, access.find("OrvelLauncher/1.1"));
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

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    httpInit();
    return RUN_ALL_TESTS();
}
