#include <string.h>

#include "shell/Text.h"
#include "update/ClientPath.h"
#include "update/Digest.h"
#include "update/Download.h"

static int isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

int buildFileUrl(char* out, const char* updateUrl, const char* path) {
    static const char hex[] = "0123456789ABCDEF";
    size_t length = strlen(updateUrl);
    if (length >= FILE_URL_SIZE) {
        out[0] = 0;
        return 0;
    }
    memcpy(out, updateUrl, length);
    for (const unsigned char* p = (const unsigned char*)path; *p; ++p) {
        int escaped = !isUnreserved(*p) && !isClientPathSeparator((char)*p);
        // Whole escapes only: a URL that does not fit is no URL at all.
        if (length + (escaped ? 3 : 1) >= FILE_URL_SIZE) {
            out[0] = 0;
            return 0;
        }
        if (escaped) {
            out[length++] = '%';
            out[length++] = hex[*p >> 4];
            out[length++] = hex[*p & 15];
        } else {
            out[length++] = isClientPathSeparator((char)*p) ? '/' : (char)*p;
        }
    }
    out[length] = 0;
    return 1;
}

int buildObjectUrl(char* out, const char* base, const char* sha256) {
    if (!isDigestText(sha256)) return 0;
    char digest[DIGEST_TEXT_SIZE];
    for (int i = 0; i <= 64; ++i) digest[i] = asciiLower(sha256[i]);
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

int clientFolderFits(const char* clientDir, const char* path) {
    const char* last = nullptr;
    for (const char* p = path; *p; ++p) {
        if (isClientPathSeparator(*p)) last = p;
    }
    return !last || strlen(clientDir) + 1 + (size_t)(last - path) <= CLIENT_FOLDER_MAX_LENGTH;
}

int buildJobPaths(const char* clientDir, const char* path, char* target, char* part) {
    if (!clientFolderFits(clientDir, path) || !buildLocalPath(target, clientDir, path)) return 0;
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
