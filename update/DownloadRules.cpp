#include <string.h>

#include "shell/Text.h"
#include "update/Download.h"

void buildFileUrl(char* out, const char* updateUrl, const char* path) {
    formatText(out, FILE_URL_SIZE, "%s", updateUrl);
    size_t length = strlen(out);
    for (const char* p = path; *p; ++p) {
        if (length > FILE_URL_STOP_LENGTH) break;
        // The last character added may be a three-byte "%20": 1,020 + 3 still
        // leaves room for the terminator.
        if (*p == ' ') {
            memcpy(out + length, "%20", 3);
            length += 3;
        } else {
            out[length++] = *p == '\\' ? '/' : *p;
        }
    }
    out[length] = 0;
}

int buildLocalPath(char* out, const char* clientDir, const char* path) {
    // Joined by hand: formatting costs a microsecond a file under Wine, and
    // the update run joins one path per manifest line.
    size_t dirLength = strlen(clientDir), pathLength = strlen(path);
    if (dirLength + 1 + pathLength >= LOCAL_PATH_SIZE) return 0;
    memcpy(out, clientDir, dirLength);
    out[dirLength] = '\\';
    memcpy(out + dirLength + 1, path, pathLength + 1);
    return 1;
}

int buildJobPaths(const char* clientDir, const char* path, char* target, char* part) {
    if (!buildLocalPath(target, clientDir, path)) return 0;
    return formatText(part, LOCAL_PATH_SIZE, "%s.part", target);
}

int32_t downloadProgressPermille(int64_t doneBytes, uint64_t totalBytes) {
    int32_t doneKiB = (int32_t)(doneBytes / 1024);
    int32_t totalKiB = (int32_t)(totalBytes / 1024);
    return (int32_t)(((int64_t)doneKiB * 1000) / ((int64_t)totalKiB + 1));
}

int shouldReportProgress(int32_t finished, int32_t jobCount) {
    return finished % DOWNLOAD_REPORT_EVERY == 0 || finished == jobCount;
}
