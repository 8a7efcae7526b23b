#include "tests/EngineSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wincrypt.h>

#include "shell/LauncherState.h"
#include "tests/TestFiles.h"
#include "update/Digest.h"
#include "update/Documents.h"
#include "update/SelfUpdate.h"
#include "update/Status.h"

static RunResult* currentRun = nullptr;

static void observeStatus(const char* text, int32_t progressPermille) {
    if (currentRun) currentRun->published.push_back({text, progressPermille});
}

static LRESULT CALLBACK engineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_STATUS_CHANGED) takeStatusChanged();
    if (message == WM_LAUNCHER_REPLACED) startNewLauncher();
    if (currentRun && message == WM_STATUS_CHANGED) {
        char text[STATUS_TEXT_SIZE];
        copyStatusText(text);
        currentRun->painted.push_back({text, launcherState.progressPermille});
        return 0;
    }
    if (currentRun && message == WM_UPDATE_DONE) {
        if (currentRun->doneMessages++ == 0) currentRun->outcome = wParam;
        launcherState.updateRunning = 0;
        launcherState.readyToPlay = 1;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND engineWindow() {
    static HWND window = nullptr;
    if (!window) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = engineWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "OrvelEngineTest";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "OrvelEngineTest", "engine", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    }
    return window;
}

RunResult runUpdate(int fullVerify) {
    RunResult run = {};
    launcherState.mainWindow = engineWindow();
    currentRun = &run;
    gStatusObserver = observeStatus;
    startUpdateRun(fullVerify);
    MSG msg;
    // A run that never ends fails the test instead of hanging it.
    DWORD deadline = GetTickCount() + 120000;
    while (run.doneMessages == 0 && GetTickCount() < deadline) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        DispatchMessageA(&msg);
    }
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    gStatusObserver = nullptr;
    currentRun = nullptr;
    return run;
}

std::string envOr(const char* name, const char* fallback) {
    const char* value = getenv(name);
    return value && *value ? value : fallback;
}

std::string wineSide(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string sha256OfBytes(const std::string& bytes) {
    Sha256 digest;
    char hex[DIGEST_TEXT_SIZE] = "";
    if (sha256Begin(&digest) && sha256Add(&digest, bytes.data(), bytes.size())) sha256Finish(&digest, hex);
    sha256End(&digest);
    return hex;
}

std::string contentOf(size_t size, unsigned seed) {
    std::string bytes(size, 0);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = (char)(x >> 24);
    }
    return bytes;
}

void writeFileMakingFolders(const std::string& path, const std::string& bytes) {
    for (size_t i = 3; i < path.size(); ++i) {
        if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
    writeFile(path, bytes);
}

static std::string jsonString(const std::string& line, const char* key) {
    std::string marker = std::string("\"") + key + "\": \"";
    size_t start = line.find(marker);
    if (start == std::string::npos) return "";
    start += marker.size();
    std::string value;
    for (size_t i = start; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        value += line[i];
    }
    return value;
}

static int jsonNumber(const std::string& line, const char* key) {
    std::string marker = std::string("\"") + key + "\": ";
    size_t start = line.find(marker);
    return start == std::string::npos ? -1 : atoi(line.c_str() + start + marker.size());
}

std::vector<LoggedRequest> readRequestLog(const std::string& logPath) {
    std::vector<LoggedRequest> requests;
    std::string text = readFile(logPath);
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        if (!line.empty()) {
            requests.push_back({jsonString(line, "path"), jsonString(line, "ua"), jsonString(line, "range"),
                                jsonNumber(line, "inflight"), jsonNumber(line, "status"), jsonNumber(line, "bytes"),
                                line.find("\"tls\": true") != std::string::npos});
        }
        begin = end + 1;
    }
    return requests;
}

std::vector<std::string> hostRootNames() {
    std::vector<std::string> names;
    HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
    const CERT_CONTEXT* cert = nullptr;
    while (store && (cert = CertEnumCertificatesInStore(store, cert))) {
        char name[256];
        CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof(name));
        if (strncmp(name, "Microsoft ", 10) != 0) names.push_back(name);
    }
    if (store) CertCloseStore(store, 0);
    return names;
}
