// Drives real update runs against the local test servers: a window of the
// test's own as mainWindow, the server's root folder and request log.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

struct ObservedStatus {
    std::string text;
    int32_t progressPermille;
};

struct LoggedRequest {
    std::string path;
    std::string userAgent;
    std::string range;  // the Range header, or empty
    int inflight;
    int status;
    int bytes;  // body bytes sent
    bool tls;
};

struct RunResult {
    int doneMessages;                       // WM_UPDATE_DONE messages seen
    WPARAM outcome;                         // wParam of the first one
    std::vector<ObservedStatus> published;  // every text in publishing order
    std::vector<ObservedStatus> painted;    // state seen at each WM_STATUS_CHANGED
};

// Runs startUpdateRun(fullVerify) and pumps messages until WM_UPDATE_DONE.
RunResult runUpdate(int fullVerify);

std::string envOr(const char* name, const char* fallback);
// A Unix path as Wine shows it (Z:\...).
std::string wineSide(const std::string& unixPath);
std::string sha256OfBytes(const std::string& bytes);
// Deterministic content of a given size.
std::string contentOf(size_t size, unsigned seed);
void writeFileMakingFolders(const std::string& path, const std::string& bytes);
std::vector<LoggedRequest> readRequestLog(const std::string& logPath);
// The names of the root certificates this prefix trusts from the host (Wine's own left out).
std::vector<std::string> hostRootNames();
