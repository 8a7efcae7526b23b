#include "shell/Text.h"
#include "update/SelfUpdate.h"

int selfUpdateVerdict(const ManifestDirectives* directives, const char* runningSha256, int triedThisStart,
                      uint64_t lastSeconds, int64_t nowSeconds) {
    if (!directives->hasLauncher) return SELF_UPDATE_NOT_NAMED;
    if (runningSha256[0] == 0) return SELF_UPDATE_UNHASHED;
    if (equalsIgnoreCase(runningSha256, directives->launcherSha256)) return SELF_UPDATE_CURRENT;
    if (triedThisStart) return SELF_UPDATE_ONCE;
    __int128 distance = (__int128)nowSeconds - (__int128)lastSeconds;
    if (lastSeconds != 0 && distance < SELF_UPDATE_PAUSE_SECONDS && distance > -SELF_UPDATE_PAUSE_SECONDS) {
        return SELF_UPDATE_RECENT;
    }
    return SELF_UPDATE_GO;
}

const char* selfUpdateVerdictCode(int verdict) {
    switch (verdict) {
        case SELF_UPDATE_NOT_NAMED: return "not-named";
        case SELF_UPDATE_CURRENT: return "current";
        case SELF_UPDATE_GO: return "go";
        case SELF_UPDATE_UNHASHED: return "unhashed";
        case SELF_UPDATE_ONCE: return "once";
        case SELF_UPDATE_RECENT: return "recent";
    }
    return "unknown";
}
