#include <windows.h>

#include <stdlib.h>

#include "shell/Config.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "update/Download.h"
#include "update/Http.h"
#include "update/Release.h"
#include "update/RunLog.h"
#include "update/Signature.h"

enum { SIGNATURE_INVALID, SIGNATURE_VALID, SIGNATURE_UNREACHABLE };

void collectUpdateBases(UpdateBases* bases) {
    const LauncherState& s = launcherState;
    bases->urls[0] = s.updateUrl;
    bases->count = 1;
    for (int32_t i = 0; i < s.mirrorCount; ++i) {
        if (!isAcceptedUpdateUrl(s.mirrorUrls[i])) {
            logEvent("mirror-refused", nullptr, "url-refused", s.mirrorUrls[i]);
            continue;
        }
        bases->urls[bases->count++] = s.mirrorUrls[i];
    }
}

char* fetchDocument(const char* base, const char* name, uint32_t limit, uint32_t* length, Failure* failure) {
    char url[DOCUMENT_URL_SIZE];
    formatText(url, sizeof(url), "%s%s", base, name);
    return httpFetch(url, limit, length, failure);
}

// The manifest (and its signature) are tried again like the files are.
static char* fetchDocumentRetrying(const char* base, const char* name, uint32_t limit, uint32_t* length,
                                   Failure* failure) {
    for (int tries = 1;; ++tries) {
        char* text = fetchDocument(base, name, limit, length, failure);
        if (text || !isPassingFailure(failure) || tries >= DOWNLOAD_TRIES) return text;
        uint32_t pauseMs = (uint32_t)retryPauseUnits(tries, failure) * gRetryPauseUnitMs;
        logFailureFrom("retry", name, base, failure);
        Sleep(pauseMs);
    }
}

// A manifest that carries its signature is checked on its own: manifest and
// signature cannot come from two releases. Otherwise manifest.txt.sig from the
// same base: one that cannot be fetched for a network reason or a server error
// (any 5xx, retried or not) is no server; one the server does not have, or
// that does not match, is a release nobody signed.
static int checkSignature(const char* base, const char* manifest, uint32_t manifestLength,
                          const ManifestDirectives* directives) {
    if (directives->malformed) {
        char detail[RUN_LOG_DETAIL_SIZE];
        formatText(detail, sizeof(detail), "directive on line %d does not read (%s)", directives->malformedLine, base);
        logEvent("signature-failed", "manifest.txt", "signature", detail);
        return SIGNATURE_INVALID;
    }
    if (directives->hasSignature) {
        int valid = verifyReleaseSignature(manifest, directives->signedLength, directives->signature,
                                           directives->signatureLength);
        if (!valid) logEvent("signature-failed", "manifest.txt", "signature", "#signature matches no release key");
        return valid ? SIGNATURE_VALID : SIGNATURE_INVALID;
    }
    uint32_t length = 0;
    Failure failure;
    char* signature = fetchDocumentRetrying(base, "manifest.txt.sig", HTTP_SIGNATURE_LIMIT, &length, &failure);
    if (!signature) {
        logFailureFrom("signature-failed", "manifest.txt.sig", base, &failure);
        int serverError = failure.reason == FAIL_HTTP_STATUS && failure.httpStatus >= 500;
        int unreachable = isPassingFailure(&failure) || failure.reason == FAIL_CONNECT || serverError;
        return unreachable ? SIGNATURE_UNREACHABLE : SIGNATURE_INVALID;
    }
    int valid = verifyReleaseSignature(manifest, manifestLength, (const unsigned char*)signature, length);
    free(signature);
    if (!valid) logEvent("signature-failed", "manifest.txt.sig", "signature", "matches no release key");
    return valid ? SIGNATURE_VALID : SIGNATURE_INVALID;
}

int64_t utcNowSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return (int64_t)(ticks / 10000000) - 11644473600;  // 1601 to 1970
}

int fetchRelease(const UpdateBases* bases, AcceptedRelease* out) {
    *out = AcceptedRelease{};
    int worst = RELEASE_NO_SERVER, keyed = gReleaseKeyCount > 0;
    uint64_t kept = readKeptRelease();
    for (int32_t i = 0; i < bases->count; ++i) {
        const char* base = bases->urls[i];
        uint32_t length = 0;
        Failure failure;
        char* manifest = fetchDocumentRetrying(base, "manifest.txt", HTTP_MANIFEST_LIMIT, &length, &failure);
        if (!manifest) {
            logFailureFrom("manifest-failed", "manifest.txt", base, &failure);
            continue;
        }
        ManifestDirectives directives;
        readManifestDirectives(manifest, length, &directives);
        int signature = keyed ? checkSignature(base, manifest, length, &directives) : SIGNATURE_VALID;
        int verdict = signature == SIGNATURE_UNREACHABLE
                          ? RELEASE_NO_SERVER
                          : releaseVerdict(&directives, keyed, signature == SIGNATURE_VALID, kept, utcNowSeconds());
        if (verdict == RELEASE_ACCEPTED) {
            // Kept before any download, so a failed run does not reopen the door.
            if (directives.release > kept && !keepRelease(directives.release)) {
                logEvent("release-unsaved", "OrvelLauncher.release", "write", "the release number could not be kept");
            }
            *out = AcceptedRelease{manifest, length, directives, i};
            return RELEASE_ACCEPTED;
        }
        char detail[RUN_LOG_DETAIL_SIZE];
        formatText(detail, sizeof(detail), "release %llu, kept %llu, from %s", (unsigned long long)directives.release,
                   (unsigned long long)kept, base);
        logEvent("manifest-refused", "manifest.txt", releaseVerdictCode(verdict), detail);
        free(manifest);
        worst = worseVerdict(worst, verdict);
    }
    return worst;
}
