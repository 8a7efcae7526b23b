// The rules of the configured values, without any platform call.
#include <string.h>

#include <initializer_list>

#include "shell/Config.h"
#include "shell/Text.h"

enum { CONFIG_MAX_KBPS = 999999999 };

void normaliseUpdateUrl(char* url, int size) {
    size_t length = strlen(url);
    if (length == 0 || url[length - 1] == '/') return;
    if (length + 1 >= (size_t)size) return;  // no room for the slash: never cut the URL
    url[length] = '/';
    url[length + 1] = 0;
}

void normaliseWebUrl(char* url) {
    if (url[0] != 0 && !startsWithIgnoreCase(url, "https://")) url[0] = 0;
}

// The host must end with the prefix: "http://localhost.example.com/" is
// another machine, and plain HTTP to it would be neither local nor safe.
int isLocalUrl(const char* url) {
    for (const char* local : {"http://127.0.0.1", "http://localhost"}) {
        if (!startsWithIgnoreCase(url, local)) continue;
        char next = url[strlen(local)];
        return next == 0 || next == ':' || next == '/';
    }
    return 0;
}

int isAcceptedUpdateUrl(const char* url) {
    size_t length = strlen(url);
    if (length == 0 || url[length - 1] != '/') return 0;
    return startsWithIgnoreCase(url, "https://") || isLocalUrl(url);
}

int32_t parseMaxDownloadKBps(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    int64_t value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > CONFIG_MAX_KBPS) value = CONFIG_MAX_KBPS;
    }
    const char* digitsEnd = p;
    while (*p == ' ' || *p == '\t') ++p;
    return digitsEnd > text && *p == 0 ? (int32_t)value : 0;
}
