#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "tests/TestFiles.h"

namespace {

// launcher.ini as the profile reader reads it, normalised; no file at all
// reads as empty values.
TEST(ConfigFile, ReadsAndNormalisesBothValues) {
    std::string dir = makeTempDir();
    snprintf(launcherState.clientDir, sizeof(launcherState.clientDir), "%s", dir.c_str());
    const struct {
        const char* ini;
        const char* updateUrl;
        const char* webUrl;
    } cases[] = {
        {nullptr, "", ""},
        {"[Launcher]\r\nUpdateUrl=https://cdn.example.invalid/client\r\nWebUrl=https://orvel.example.invalid/\r\n",
         "https://cdn.example.invalid/client/", "https://orvel.example.invalid/"},
        {"[Other]\nUpdateUrl=https://cdn.example.invalid/\n", "", ""},
        {"[LAUNCHER]\nupdateurl = \"https://cdn.example.invalid/q\"  \nWEBURL=http://orvel.example.invalid/\n",
         "https://cdn.example.invalid/q/", ""},
        {"[Launcher]\nUpdateUrl=http://cdn.example.invalid/client\nWebUrl=HTTPS://Orvel.Example.Invalid/Foro\n",
         "http://cdn.example.invalid/client/", "HTTPS://Orvel.Example.Invalid/Foro"}};
    for (const auto& c : cases) {
        snprintf(launcherState.updateUrl, sizeof(launcherState.updateUrl), "stale");
        if (c.ini) writeFile(joinPath(dir, "launcher.ini"), c.ini);
        readConfig();
        EXPECT_STREQ(c.updateUrl, launcherState.updateUrl) << (c.ini ? c.ini : "no file");
        EXPECT_STREQ(c.webUrl, launcherState.webUrl) << (c.ini ? c.ini : "no file");
    }
    launcherState.clientDir[0] = launcherState.updateUrl[0] = launcherState.webUrl[0] = 0;
}

}  // namespace
