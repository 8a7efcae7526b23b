#include "update/Release.h"

int releaseVerdict(const ManifestDirectives* directives, int keyed, int signatureValid, uint64_t keptRelease,
                   int64_t nowSeconds) {
    if (keyed) {
        if (directives->malformed || !signatureValid) return RELEASE_BAD_SIGNATURE;
        if (directives->hasExpires && nowSeconds - RELEASE_EXPIRY_GRACE_SECONDS > directives->expires) {
            return RELEASE_EXPIRED;
        }
    }
    if (keptRelease > 0 && directives->release < keptRelease) return RELEASE_OLDER;
    return RELEASE_ACCEPTED;
}

int worseVerdict(int a, int b) { return b > a ? b : a; }

const char* releaseVerdictCode(int verdict) {
    switch (verdict) {
        case RELEASE_ACCEPTED: return "accepted";
        case RELEASE_NO_SERVER: return "no-server";
        case RELEASE_OLDER: return "older-release";
        case RELEASE_EXPIRED: return "expired";
        case RELEASE_BAD_SIGNATURE: return "bad-signature";
    }
    return "unknown";
}
