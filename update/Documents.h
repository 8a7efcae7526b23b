// The two documents the update server publishes: manifest.txt, one line per
// client file ("<sha256> <size> <relative path>"), and news.txt, up to four
// "caption|headline" lines. Both are plain byte strings; nothing is decoded.
#pragma once

#include <stdint.h>

enum {
    DIGEST_TEXT_SIZE = 65,     // 64 hexadecimal characters and a terminator
    RELATIVE_PATH_SIZE = 260,  // at most 259 characters
    NEWS_FIELD_SIZE = 96       // at most 95 bytes
};

struct ManifestEntry {
    char sha256[DIGEST_TEXT_SIZE];
    uint64_t size;
    char path[RELATIVE_PATH_SIZE];
};

struct NewsItem {
    char caption[NEWS_FIELD_SIZE];
    char headline[NEWS_FIELD_SIZE];
};

// One manifest line, ending at its terminator (a CR or LF also ends the path).
// Returns 1 and fills out for an accepted line, 0 for a rejected one; a
// rejected line leaves out in an unspecified state.
int parseManifestLine(const char* line, ManifestEntry* out);

// The three fields alone, without the rule on the path: 1 when they read.
int parseManifestFields(const char* line, ManifestEntry* out);

// 1 when the launcher may write a relative path under the client folder (see
// update/ClientPath.h): never outside it, never a name that Windows reads as
// another file or a device, never one of the launcher's own files.
int isAcceptedManifestPath(const char* path);

// Cuts text into lines in place and fills up to capacity items from the lines
// that hold a bar. Returns the number of items filled.
int parseNewsItems(char* text, NewsItem* items, int capacity);

// Fills newsItems and then newsCount of the shared state from a news document.
// Only called while newsCount is 0, so the painter never sees a half item.
void parseNews(char* text);
