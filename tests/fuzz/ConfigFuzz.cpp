// The launcher.ini values as read into their buffers.
#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "tests/fuzz/Fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> value = nextString(&data, &size, CONFIG_URL_SIZE - 1);
    size_t length = value.size() - 1;
    char url[CONFIG_URL_SIZE];
    memcpy(url, value.data(), value.size());

    // Only a slash is ever added, and only where it fits.
    normaliseUpdateUrl(url, sizeof(url));
    size_t normalised = strnlen(url, sizeof(url));
    FUZZ_CHECK(normalised < sizeof(url) && memcmp(url, value.data(), length) == 0);
    FUZZ_CHECK(normalised == length || (normalised == length + 1 && url[length] == '/'));
    // Documents and files are appended to an accepted URL as they are; no user
    // information hides the host contacted. Plain HTTP only where every reader
    // finds this machine: the host, ended where any reader ends it, then a port
    // of digits and "/" or nothing.
    const char* host = strstr(url, "//") ? strstr(url, "//") + 2 : url;
    size_t authority = strcspn(host, "/"), hostLength = strcspn(host, ":/\\?#@;");
    if (isAcceptedUpdateUrl(url)) FUZZ_CHECK(url[normalised - 1] == '/' && !memchr(host, '@', authority));
    if (isLocalUrl(url)) {
        size_t port = host[hostLength] == ':' ? strspn(host + hostLength + 1, "0123456789") + 1 : 0;
        FUZZ_CHECK(hostLength == 9 &&
                   (startsWithIgnoreCase(url, "http://127.0.0.1") || startsWithIgnoreCase(url, "http://localhost")));
        FUZZ_CHECK(!strchr(url, '@') && port != 1 && port <= 6 && hostLength + port == authority);
    }

    memcpy(url, value.data(), value.size());
    normaliseWebUrl(url);
    FUZZ_CHECK(url[0] == 0 || (startsWithIgnoreCase(url, "https://") && strcmp(url, value.data()) == 0));
    // A limit is never negative, and only digits make one.
    int32_t limit = parseMaxDownloadKBps(value.data());
    FUZZ_CHECK(limit >= 0 && (limit == 0 || strpbrk(value.data(), "123456789")));
    return 0;
}
