#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <tuple>

#include "shell/Config.h"

namespace {

// (The web URL is checked by the window test and the Config fuzz target.)
std::string normalised(const std::string& value) {
    char url[512] = {};
    strncpy(url, value.c_str(), sizeof(url) - 1);
    normaliseUpdateUrl(url, sizeof(url));
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
                 {"https:/cdn.example.invalid", "https:/cdn.example.invalid/", false, false},
                 // The host is what the library reads: user information puts it after the "@".
                 {"http://127.0.0.1:80@updates.example.invalid/client/",
                  "http://127.0.0.1:80@updates.example.invalid/client/", false, false},
                 {"http://localhost:x@example.invalid", "http://localhost:x@example.invalid/", false, false},
                 {"http://localhost\\@example.invalid", "http://localhost\\@example.invalid/", false, false},
                 {"http://localhost:65536/", "http://localhost:65536/", false, false},
                 {"http://localhost/a@b/", "http://localhost/a@b/", false, false},
                 {"HTTP://LOCALHOST:65535/x", "HTTP://LOCALHOST:65535/x/", true, true},
                 {"https://user:pw@cdn.example.invalid", "https://user:pw@cdn.example.invalid/", false, false},
                 {"https://cdn.example.invalid/a@b/", "https://cdn.example.invalid/a@b/", true, false}};
    for (const auto& c : cases) {
        std::string url = normalised(c.value);
        EXPECT_EQ(c.normalised, url) << c.value;
        EXPECT_EQ(c.accepted, (bool)isAcceptedUpdateUrl(url.c_str())) << c.value;
        EXPECT_EQ(c.local, (bool)isLocalUrl(url.c_str())) << c.value;
    }
}

TEST(UpdateUrl, ATransferMustEndOverHttpsOrOnThisMachineAsAsked) {
    // clang-format off
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"https://a.invalid/x", "https://b.invalid/y", true}, {"https://a.invalid/x", "HTTPS://a.invalid/x", true},
        {"https://a.invalid/x", "http://a.invalid/x", false}, {"https://a.invalid/x", "", false},  // the library could not say
        {"https://a.invalid/x", "http://localhost/x", false}, {"http://localhost:1/x", "http://127.0.0.1:2/y", true},
        {"http://localhost:1/x", "https://b.invalid/y", true}, {"http://localhost:1/x", "http://updates.example.invalid/x", false}};
    // clang-format on
    for (const auto& [asked, final, keeps] : cases)
        EXPECT_EQ(keeps, (bool)keepsHttps(asked, final)) << asked << " " << final;
}

TEST(UpdateUrl, AFullBufferWithoutSlashIsKeptAndThenRefused) {
    std::string url510 = "https://cdn.example.invalid/" + std::string(482, 'p');
    EXPECT_TRUE(isAcceptedUpdateUrl(normalised(url510).c_str()));
    // 511 characters leave no room for the slash; cutting would name another
    // folder, so the value stays as read and the update run refuses it.
    EXPECT_EQ(url510 + "q", normalised(url510 + "q"));
    EXPECT_FALSE(isAcceptedUpdateUrl(normalised(url510 + "q").c_str()));
    EXPECT_TRUE(isAcceptedUpdateUrl(normalised(url510 + "/").c_str()));
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
