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

int buildObjectUrl(char* out, const char* base, const char* sha256) {
    char digest[DIGEST_TEXT_SIZE];
    for (int i = 0; i < 64; ++i) {
        char c = asciiLower(sha256[i]);
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
        digest[i] = c;
    }
    digest[64] = 0;
    return formatText(out, FILE_URL_SIZE, "%sobjects/%.2s/%s", base, digest, digest);
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

uint64_t addSaturating(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

int32_t downloadProgressPermille(uint64_t doneBytes, uint64_t totalBytes) {
    uint64_t doneKiB = doneBytes / 1024, totalKiB = totalBytes / 1024;
    if (doneKiB > totalKiB) doneKiB = totalKiB;
    // The +1 keeps the divisor above zero and the result below 1000; 128 bits
    // keep the product whole for any size a manifest may claim.
    return (int32_t)((unsigned __int128)doneKiB * 1000 / ((unsigned __int128)totalKiB + 1));
}

int32_t wholeMebibytes(uint64_t bytes) {
    uint64_t mebibytes = bytes / 1048576;
    return mebibytes > INT32_MAX ? INT32_MAX : (int32_t)mebibytes;
}

int shouldReportProgress(int32_t finished, int32_t jobCount) {
    return finished % DOWNLOAD_REPORT_EVERY == 0 || finished == jobCount;
}
