#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "tests/TestFiles.h"

namespace {

struct ConfigFile : ::testing::Test {
    std::string dir = makeTempDir();

    void SetUp() override { snprintf(launcherState.clientDir, sizeof(launcherState.clientDir), "%s", dir.c_str()); }
    void TearDown() override {
        launcherState.clientDir[0] = launcherState.updateUrl[0] = launcherState.webUrl[0] = 0;
    }
    void read(const std::string& ini) {
        writeFile(joinPath(dir, "launcher.ini"), ini);
        readConfig();
    }
};

TEST_F(ConfigFile, NoFileGivesEmptyValues) {
    snprintf(launcherState.updateUrl, sizeof(launcherState.updateUrl), "stale");
    readConfig();
    EXPECT_STREQ("", launcherState.updateUrl);
    EXPECT_STREQ("", launcherState.webUrl);
}

TEST_F(ConfigFile, ReadsBothKeysAndAppendsOneSlash) {
    read("[Launcher]\r\nUpdateUrl=https://cdn.example.invalid/client\r\nWebUrl=https://orvel.example.invalid/\r\n");
    EXPECT_STREQ("https://cdn.example.invalid/client/", launcherState.updateUrl);
    EXPECT_STREQ("https://orvel.example.invalid/", launcherState.webUrl);

    read("[Launcher]\nUpdateUrl=https://cdn.example.invalid/client/\n");
    EXPECT_STREQ("https://cdn.example.invalid/client/", launcherState.updateUrl);
    EXPECT_STREQ("", launcherState.webUrl);

    read("[Launcher]\nUpdateUrl=https://cdn.example.invalid\\client\\\n");
    EXPECT_STREQ("https://cdn.example.invalid\\client\\/", launcherState.updateUrl);
}

TEST_F(ConfigFile, MissingSectionOrKeysReadAsEmpty) {
    read("[Other]\nUpdateUrl=https://cdn.example.invalid/\nWebUrl=https://orvel.example.invalid/\n");
    EXPECT_STREQ("", launcherState.updateUrl);
    EXPECT_STREQ("", launcherState.webUrl);

    read("[Launcher]\nWebUrl=https://orvel.example.invalid/\n");
    EXPECT_STREQ("", launcherState.updateUrl);
    EXPECT_STREQ("https://orvel.example.invalid/", launcherState.webUrl);
}

TEST_F(ConfigFile, NamesMatchInAnyLetterCase) {
    read("[LAUNCHER]\nupdateurl=https://cdn.example.invalid/a\nWEBURL=https://orvel.example.invalid/\n");
    EXPECT_STREQ("https://cdn.example.invalid/a/", launcherState.updateUrl);
    EXPECT_STREQ("https://orvel.example.invalid/", launcherState.webUrl);
}

TEST_F(ConfigFile, QuotesAndSurroundingSpacesAreRemoved) {
    read("[Launcher]\nUpdateUrl =   \"https://cdn.example.invalid/q\"   \nWebUrl=  https://orvel.example.invalid/x  \n");
    EXPECT_STREQ("https://cdn.example.invalid/q/", launcherState.updateUrl);
    EXPECT_STREQ("https://orvel.example.invalid/x", launcherState.webUrl);
}

TEST_F(ConfigFile, WebUrlNeedsHttpsAndKeepsItsCapitals) {
    read("[Launcher]\nWebUrl=http://orvel.example.invalid/\n");
    EXPECT_STREQ("", launcherState.webUrl);
    read("[Launcher]\nWebUrl=HTTPS://Orvel.Example.Invalid/Foro\n");
    EXPECT_STREQ("HTTPS://Orvel.Example.Invalid/Foro", launcherState.webUrl);
}

TEST_F(ConfigFile, PlainHttpUpdateUrlIsStoredForTheRunToRefuse) {
    read("[Launcher]\nUpdateUrl=http://cdn.example.invalid/client\n");
    EXPECT_STREQ("http://cdn.example.invalid/client/", launcherState.updateUrl);
    EXPECT_FALSE(isAcceptedUpdateUrl(launcherState.updateUrl));
}

TEST_F(ConfigFile, LongestUpdateUrlIsNeverCutIntoAnotherOne) {
    std::string base = "https://cdn.example.invalid/";
    std::string url511 = base + std::string(511 - base.size(), 'p');
    read("[Launcher]\nUpdateUrl=" + url511 + "\n");
    EXPECT_EQ(url511, launcherState.updateUrl);
    EXPECT_FALSE(isAcceptedUpdateUrl(launcherState.updateUrl));

    std::string url510 = url511.substr(0, 510);
    read("[Launcher]\nUpdateUrl=" + url510 + "\n");
    EXPECT_EQ(url510 + "/", launcherState.updateUrl);
    EXPECT_TRUE(isAcceptedUpdateUrl(launcherState.updateUrl));
}

}  // namespace
