#include "update/Documents.h"

#include <string.h>

#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/ClientPath.h"

static int isBlank(char c) { return c == ' ' || c == '\t'; }

int isAcceptedManifestPath(const char* path) {
    return clientPathRefusal(path, launcherState.ownExeName) == CLIENT_PATH_OK;
}

int parseManifestLine(const char* line, ManifestEntry* out) {
    return parseManifestFields(line, out) && isAcceptedManifestPath(out->path);
}

int parseManifestFields(const char* line, ManifestEntry* out) {
    const char* p = line;
    while (isBlank(*p)) ++p;

    // The digest: a run of non-blank characters, exactly 64 of them.
    const char* digest = p;
    while (*p && !isBlank(*p) && *p != '\r' && *p != '\n') ++p;
    size_t digestLength = (size_t)(p - digest);
    // A line that begins with "#" is a release directive, never a file.
    if (digestLength != 64 || digest[0] == '#') return 0;
    memcpy(out->sha256, digest, 64);
    out->sha256[64] = 0;

    // The size: white space, then decimal digits that fit in 64 bits.
    if (!isBlank(*p)) return 0;
    while (isBlank(*p)) ++p;
    if (*p < '0' || *p > '9') return 0;
    uint64_t size = 0;
    while (*p >= '0' && *p <= '9') {
        unsigned digit = (unsigned)(*p - '0');
        if (size > (UINT64_MAX - digit) / 10) return 0;
        size = size * 10 + digit;
        ++p;
    }
    out->size = size;

    // The path: white space, then everything up to CR, LF or the end; blanks
    // inside and at the end belong to it. Longer paths keep 259 characters.
    if (!isBlank(*p)) return 0;
    while (isBlank(*p)) ++p;
    size_t length = 0;
    while (p[length] && p[length] != '\r' && p[length] != '\n') ++length;
    if (length == 0) return 0;
    if (length > RELATIVE_PATH_SIZE - 1) length = RELATIVE_PATH_SIZE - 1;
    memcpy(out->path, p, length);
    out->path[length] = 0;
    return 1;
}

static void copyField(char* out, const char* text, size_t length) {
    if (length > NEWS_FIELD_SIZE - 1) length = NEWS_FIELD_SIZE - 1;
    memcpy(out, text, length);
    out[length] = 0;
}

int parseNewsItems(char* text, NewsItem* items, int capacity) {
    int count = 0;
    char* next = text;
    while (*next && count < capacity) {
        char* line = next;
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) {
            *lineFeed = 0;
            next = lineFeed + 1;
        } else {
            next = line + strlen(line);
        }
        char* carriageReturn = strchr(line, '\r');
        if (carriageReturn) *carriageReturn = 0;

        char* bar = strchr(line, '|');
        if (!bar) continue;
        copyField(items[count].caption, line, (size_t)(bar - line));
        copyField(items[count].headline, bar + 1, strlen(bar + 1));
        ++count;
    }
    return count;
}

void parseNews(char* text) {
    int count = parseNewsItems(text, launcherState.newsItems, NEWS_ITEM_CAPACITY);
    // The painter reads newsCount first and then that many items.
    __atomic_store_n(&launcherState.newsCount, count, __ATOMIC_RELEASE);
}
