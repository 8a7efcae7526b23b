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
    normaliseWebUrl(s.webUrl);
}
