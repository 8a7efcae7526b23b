#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "shell/Config.h"

namespace {

std::string normalised(const std::string& value, bool web) {
    char url[512] = {};
    strncpy(url, value.c_str(), sizeof(url) - 1);
    web ? normaliseWebUrl(url) : normaliseUpdateUrl(url, sizeof(url));
    return url;
}

TEST(UpdateUrl, GetsOneTrailingSlashAndIsUsedOnlyOverHttpsOrToThisMachine) {
    const struct {
        const char* value;
        const char* normalised;
        bool accepted, local;
    } cases[] = {{"", "", false, false},
                 {"https://cdn.example.invalid/client", "https://cdn.example.invalid/client/", true, false},
                 {"https://cdn.example.invalid/client//", "https://cdn.example.invalid/client//", true, false},
                 {"https://cdn.example.invalid\\client\\", "https://cdn.example.invalid\\client\\/", true, false},
                 {"HTTPS://CDN.EXAMPLE.INVALID", "HTTPS://CDN.EXAMPLE.INVALID/", true, false},
                 {"http://localhost:8080/patch", "http://localhost:8080/patch/", true, true},
                 {"HTTP://127.0.0.1", "HTTP://127.0.0.1/", true, true},
                 {"http://cdn.example.invalid", "http://cdn.example.invalid/", false, false},
                 {"http://127.0.0.2", "http://127.0.0.2/", false, false},
                 {"http://localhost.example.invalid", "http://localhost.example.invalid/", false, false},
                 {"http://127.0.0.1.example.invalid:80", "http://127.0.0.1.example.invalid:80/", false, false},
                 {"https://localhost", "https://localhost/", true, false},
                 {"ftp://localhost", "ftp://localhost/", false, false},
                 {"https:/cdn.example.invalid", "https:/cdn.example.invalid/", false, false}};
    for (const auto& c : cases) {
        std::string url = normalised(c.value, false);
        EXPECT_EQ(c.normalised, url) << c.value;
        EXPECT_EQ(c.accepted, (bool)isAcceptedUpdateUrl(url.c_str())) << c.value;
        EXPECT_EQ(c.local, (bool)isLocalUrl(url.c_str())) << c.value;
    }
}

TEST(UpdateUrl, AFullBufferWithoutSlashIsKeptAndThenRefused) {
    std::string url510 = "https://cdn.example.invalid/" + std::string(482, 'p');
    EXPECT_TRUE(isAcceptedUpdateUrl(normalised(url510, false).c_str()));
    // 511 characters leave no room for the slash; cutting would name another
    // folder, so the value stays as read and the update run refuses it.
    EXPECT_EQ(url510 + "q", normalised(url510 + "q", false));
    EXPECT_FALSE(isAcceptedUpdateUrl(normalised(url510 + "q", false).c_str()));
    EXPECT_TRUE(isAcceptedUpdateUrl(normalised(url510 + "/", false).c_str()));
}

TEST(WebUrl, KeptOnlyWithAnHttpsScheme) {
    for (const char* kept : {"", "https://orvel.example.invalid/", "HTTPS://Orvel.Example.Invalid/Foro"}) {
        EXPECT_EQ(kept, normalised(kept, true));
    }
    for (const char* dropped : {"http://orvel.example.invalid/", "orvel.example.invalid", "https:/"}) {
        EXPECT_EQ("", normalised(dropped, true)) << dropped;
    }
}

TEST(MaxDownloadKBps, OnlyDigitsMakeALimit) {
    const struct {
        const char* text;
        int32_t limit;
    } cases[] = {{"512", 512}, {" 64\t", 64}, {"", 0},    {"0", 0},   {"-5", 0},
                 {"+5", 0},    {"12abc", 0},  {"1.5", 0}, {"abc", 0}, {"99999999999999999999", 999999999}};
    for (const auto& c : cases) EXPECT_EQ(c.limit, parseMaxDownloadKBps(c.text)) << c.text;
}

}  // namespace
