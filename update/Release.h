// Which release a run installs. The manifest comes from the update URL, or
// from a mirror when that fails; a launcher built with release keys takes
// only a signed one, and no launcher goes back to a release older than the
// highest this client folder has accepted.
#pragma once

#include <stdint.h>

#include "shell/LauncherState.h"
#include "update/Directives.h"
#include "update/Failure.h"

// In rising order of how much a player or operator should hear of it.
enum {
    RELEASE_ACCEPTED = 0,
    RELEASE_NO_SERVER,      // no manifest, or no signature for it, for a network reason or a server error
    RELEASE_OLDER,          // below the kept release, or unnumbered once a number is kept
    RELEASE_EXPIRED,        // signed with an #expires more than a day past
    RELEASE_BAD_SIGNATURE,  // a keyed launcher found no valid signature
    RELEASE_VERDICT_COUNT
};

enum {
    RELEASE_EXPIRY_GRACE_SECONDS = 86400,  // clocks are often wrong by hours
    UPDATE_BASE_CAPACITY = 1 + CONFIG_MIRROR_CAPACITY,
    DOCUMENT_URL_SIZE = 600
};

// ---- Rules (ReleaseRules.cpp)

// The verdict on a manifest that was fetched whole. keyed: the launcher holds
// release keys; signatureValid: their check passed (unused without keys). A
// malformed directive makes a keyed launcher's manifest unsigned; a launcher
// without keys ignores the line, and #expires, which a server could drop.
int releaseVerdict(const ManifestDirectives* directives, int keyed, int signatureValid, uint64_t keptRelease,
                   int64_t nowSeconds);

// When no base gives an acceptable release, the run reports the most serious
// reason any base gave: a bad signature, then an expired or older release.
int worseVerdict(int a, int b);

// A short code for the log.
const char* releaseVerdictCode(int verdict);

// ---- The run's side (Release_win.cpp, KeptRelease_win.cpp)

// The bases of a run: updateUrl, then the mirrors that pass its rule.
struct UpdateBases {
    const char* urls[UPDATE_BASE_CAPACITY];
    int32_t count;
};

struct AcceptedRelease {
    char* manifest;  // terminated; the caller frees it
    uint32_t length;
    ManifestDirectives directives;
    int32_t base;  // index of the base that gave it
};

// Logs each mirror it leaves out and why.
void collectUpdateBases(UpdateBases* bases);

// Tries the bases in order until one gives a release this launcher accepts.
// Returns RELEASE_ACCEPTED with out filled, or the most serious verdict with
// nothing held. The accepted release's number is kept before this returns.
int fetchRelease(const UpdateBases* bases, AcceptedRelease* out);

// The highest release this client folder has accepted (OrvelLauncher.release),
// 0 when none; a damaged or unreadable file counts as none, with a log line.
uint64_t readKeptRelease();
// Keeps number, written beside and moved over; 1 on success.
int keepRelease(uint64_t number);

// A number kept in an own file of the client folder by name (decimal, 1 to
// 2^63-1, and a line end), as OrvelLauncher.release holds one. Reading
// returns NUMBER_FILE_*, with *number 0 unless read, and *error the Windows
// error when unreadable; writing goes beside and is moved over, 1 on success.
enum { NUMBER_FILE_READ, NUMBER_FILE_MISSING, NUMBER_FILE_DAMAGED, NUMBER_FILE_UNREADABLE };
int readNumberFile(const char* name, uint64_t* number, unsigned long* error);
int writeNumberFile(const char* name, uint64_t number);

// One document under a base URL, fetched once (see httpFetch).
char* fetchDocument(const char* base, const char* name, uint32_t limit, uint32_t* length, Failure* failure);

// Seconds since 1970 (UTC) by this machine's clock.
int64_t utcNowSeconds();
