#include <windows.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"

void readConfig() {
    LauncherState& s = launcherState;
    char fileName[260];
    formatText(fileName, sizeof(fileName), "%s\\launcher.ini", s.clientDir);
    // Missing file, section or key all read as the empty default.
    GetPrivateProfileStringA("Launcher", "UpdateUrl", "", s.updateUrl, sizeof(s.updateUrl), fileName);
    GetPrivateProfileStringA("Launcher", "WebUrl", "", s.webUrl, sizeof(s.webUrl), fileName);
    normaliseUpdateUrl(s.updateUrl, sizeof(s.updateUrl));
    // MirrorUrl1 to MirrorUrl4, in that order; empty ones are left out.
    s.mirrorCount = 0;
    for (int i = 0; i < CONFIG_MIRROR_CAPACITY; ++i) {
        char key[16];
        char* url = s.mirrorUrls[s.mirrorCount];
        formatText(key, sizeof(key), "MirrorUrl%d", i + 1);
        GetPrivateProfileStringA("Launcher", key, "", url, CONFIG_URL_SIZE, fileName);
        normaliseUpdateUrl(url, CONFIG_URL_SIZE);
        if (url[0]) ++s.mirrorCount;
    }
    normaliseWebUrl(s.webUrl);
    char limit[32];
    GetPrivateProfileStringA("Launcher", "MaxDownloadKBps", "", limit, sizeof(limit), fileName);
    s.maxDownloadKBps = parseMaxDownloadKBps(limit);
}
