#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "shell/Config.h"

namespace {

std::string normalisedUpdateUrl(const std::string& value) {
    char url[512] = {};
    strncpy(url, value.c_str(), sizeof(url) - 1);
    normaliseUpdateUrl(url, sizeof(url));
    return url;
}

std::string normalisedWebUrl(const std::string& value) {
    char url[512] = {};
    strncpy(url, value.c_str(), sizeof(url) - 1);
    normaliseWebUrl(url);
    return url;
}

TEST(UpdateUrl, GetsExactlyOneTrailingSlash) {
    EXPECT_EQ("", normalisedUpdateUrl(""));
    EXPECT_EQ("https://cdn.example.invalid/client/", normalisedUpdateUrl("https://cdn.example.invalid/client"));
    EXPECT_EQ("https://cdn.example.invalid/client/", normalisedUpdateUrl("https://cdn.example.invalid/client/"));
    EXPECT_EQ("https://cdn.example.invalid/client//", normalisedUpdateUrl("https://cdn.example.invalid/client//"));
    EXPECT_EQ("https://cdn.example.invalid\\client\\/", normalisedUpdateUrl("https://cdn.example.invalid\\client\\"));
    EXPECT_EQ("HTTPS://CDN.EXAMPLE.INVALID/", normalisedUpdateUrl("HTTPS://CDN.EXAMPLE.INVALID"));
}

TEST(UpdateUrl, AFullBufferWithoutSlashIsKeptAndThenRefused) {
    std::string base = "https://cdn.example.invalid/";
    std::string url510 = base + std::string(510 - base.size(), 'p');
    EXPECT_EQ(url510 + "/", normalisedUpdateUrl(url510));
    EXPECT_TRUE(isAcceptedUpdateUrl(normalisedUpdateUrl(url510).c_str()));

    // 511 characters leave no room for the slash; cutting would name another
    // folder, so the value stays as read and the update run refuses it.
    std::string url511 = url510 + "q";
    EXPECT_EQ(url511, normalisedUpdateUrl(url511));
    EXPECT_FALSE(isAcceptedUpdateUrl(normalisedUpdateUrl(url511).c_str()));
    std::string url511Slash = url510 + "/";
    EXPECT_EQ(url511Slash, normalisedUpdateUrl(url511Slash));
    EXPECT_TRUE(isAcceptedUpdateUrl(url511Slash.c_str()));
}

TEST(UpdateUrl, AcceptsHttpsAnywhereAndPlainHttpOnlyToThisMachine) {
    EXPECT_TRUE(isAcceptedUpdateUrl("https://cdn.example.invalid/"));
    EXPECT_TRUE(isAcceptedUpdateUrl("HTTPS://CDN.EXAMPLE.INVALID/"));
    EXPECT_TRUE(isAcceptedUpdateUrl("http://localhost:8080/patch/"));
    EXPECT_TRUE(isAcceptedUpdateUrl("HTTP://127.0.0.1/"));
    EXPECT_FALSE(isAcceptedUpdateUrl("http://cdn.example.invalid/"));
    EXPECT_FALSE(isAcceptedUpdateUrl("http://127.0.0.2/"));
    EXPECT_FALSE(isAcceptedUpdateUrl("ftp://localhost/"));
    EXPECT_FALSE(isAcceptedUpdateUrl("https:/cdn.example.invalid/"));
    EXPECT_FALSE(isAcceptedUpdateUrl(""));
}

TEST(UpdateUrl, LocalUrlsAreRecognisedByTheirPrefixAlone) {
    EXPECT_TRUE(isLocalUrl("http://127.0.0.1:8000/manifest.txt"));
    EXPECT_TRUE(isLocalUrl("HTTP://LOCALHOST/news.txt"));
    EXPECT_FALSE(isLocalUrl("https://localhost/"));
    EXPECT_FALSE(isLocalUrl("http://127.0.0.2/"));
    EXPECT_FALSE(isLocalUrl("http://localhos"));
}

TEST(WebUrl, KeptOnlyWithAnHttpsScheme) {
    EXPECT_EQ("", normalisedWebUrl(""));
    EXPECT_EQ("https://orvel.example.invalid/", normalisedWebUrl("https://orvel.example.invalid/"));
    EXPECT_EQ("HTTPS://Orvel.Example.Invalid/Foro", normalisedWebUrl("HTTPS://Orvel.Example.Invalid/Foro"));
    EXPECT_EQ("", normalisedWebUrl("http://orvel.example.invalid/"));
    EXPECT_EQ("", normalisedWebUrl("orvel.example.invalid"));
    EXPECT_EQ("", normalisedWebUrl("https:/"));
}

}  // namespace
