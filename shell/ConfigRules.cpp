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

// The host as the internet library reads it: everything between "//" and the
// port or the path. A URL whose host is exactly 127.0.0.1 or localhost, with
// at most a port of digits after it and then "/" or nothing, cannot be read
// as another host: no "@" (user information puts the real host after it), no
// "\", "?", "#" or blank that one reader ends the host at and another not,
// no name that merely begins like the local one ("localhost.example.com").
int isLocalUrl(const char* url) {
    if (!startsWithIgnoreCase(url, "http://") || strchr(url, '@')) return 0;
    const char* host = url + strlen("http://");
    for (const char* local : {"127.0.0.1", "localhost"}) {
        if (!startsWithIgnoreCase(host, local)) continue;
        const char* p = host + strlen(local);
        if (*p == ':') {
            const char* digits = ++p;
            long port = 0;
            for (; *p >= '0' && *p <= '9' && p - digits < 5; ++p) port = port * 10 + (*p - '0');
            if (p == digits || port > 65535) return 0;
        }
        return *p == 0 || *p == '/';
    }
    return 0;
}

// User information ("name:password@") before the path is refused outright:
// it hides which host is contacted and has no use for a public update server.
int isAcceptedUpdateUrl(const char* url) {
    size_t length = strlen(url);
    if (length == 0 || url[length - 1] != '/') return 0;
    if (isLocalUrl(url)) return 1;
    if (!startsWithIgnoreCase(url, "https://")) return 0;
    const char* host = url + strlen("https://");
    size_t authority = strcspn(host, "/");
    return memchr(host, '@', authority) == nullptr;
}

int keepsHttps(const char* askedUrl, const char* finalUrl) {
    if (startsWithIgnoreCase(finalUrl, "https://")) return 1;
    return isLocalUrl(askedUrl) && isLocalUrl(finalUrl);
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
