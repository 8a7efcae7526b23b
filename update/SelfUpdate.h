// The launcher replaces itself with the build its release names
// ("#launcher SHA256 SIZE", the store's object of that digest) right after
// the release is accepted, before the client's files are checked, so that
// the newest launcher does the rest. Only a release that fetchRelease
// accepted (signature, release number, expiry) can name it.
//
// The running executable is never deleted or overwritten, which Windows
// forbids for a running image: the build is downloaded into "<name>.part"
// through the download workers (resumed, checked for length and digest),
// the running executable is renamed to "<name>.old", which Windows allows,
// the verified part moves onto the free name, and the new launcher is
// started with the same show command from the client folder. This one ends
// once it runs (it has not ended within a second: a new launcher waits for
// this one's lock); the new one removes "<name>.old". Every step that fails puts
// back what it changed and the run goes on with the running launcher. At
// most one self-update per start, and none within ten minutes of the last in
// the folder (OrvelLauncher.selfupdate holds its time), so no release can
// make launchers start each other in a loop.
#pragma once

#include <stdint.h>

#include "update/Directives.h"
#include "update/Documents.h"

enum {
    SELF_UPDATE_PAUSE_SECONDS = 600,
    SELF_UPDATE_MOVE_TRY_MS = 3000,  // a name held by a scanner or another program, tried again this long
    SELF_UPDATE_MOVE_PAUSE_MS = 100,
    SELF_UPDATE_START_CHECK_MS = 1000  // a new launcher that ends within this did not start
};

enum {
    SELF_UPDATE_NOT_NAMED = 0,  // the release names no launcher build
    SELF_UPDATE_CURRENT,        // it names the running one
    SELF_UPDATE_GO,
    SELF_UPDATE_UNHASHED,  // the running launcher could not be hashed: nothing to compare with
    SELF_UPDATE_ONCE,      // this process has tried one already
    SELF_UPDATE_RECENT     // the last one in the folder is less than ten minutes away
};

// ---- Rules (SelfUpdateRules.cpp)

// Whether to replace the running launcher, whose digest is runningSha256
// (empty when unknown). lastSeconds: the time of the folder's last
// self-update (0: none). A time more than ten minutes ahead of now is a
// clock set back since, and does not hold the update back for longer.
int selfUpdateVerdict(const ManifestDirectives* directives, const char* runningSha256, int triedThisStart,
                      uint64_t lastSeconds, int64_t nowSeconds);

// A short code for the log.
const char* selfUpdateVerdictCode(int verdict);

// ---- The run's and the window's side (SelfUpdate_win.cpp)
#ifdef _WIN32
struct UpdateBases;
struct AcceptedRelease;

// Run thread, right after the release is accepted. Returns 1 when a new
// launcher now runs in this one's place: the run ends without touching the
// client's files and posts UPDATE_DONE_REPLACED. 0: go on with this launcher.
int updateLauncher(const UpdateBases* bases, const AcceptedRelease* release);

// Run thread: removes "<name>.old" left by the launcher that handed over;
// tried at a run's start and again at its end, when the old process surely
// ended (logKept: note a file that stays).
void removeOldLauncher(int logKept);

// Window thread, on WM_LAUNCHER_REPLACED: takes the folder's name out of the
// window, starts the new launcher, hides the window, and answers the run.
// When it does not start, or ends at once, the running executable is put
// back and the window shown and named again, before the run hears of it.
void startNewLauncher();

// Window thread, before the process ends: waits while the run has the
// executable set aside, so that a launcher closed at that moment does not
// leave the folder without one.
void waitForLauncherSwap();

// The running launcher's digest, hashed once per process (empty until
// then), and whether this process has tried a self-update; tests reset both.
extern char gRunningLauncherSha256[DIGEST_TEXT_SIZE];
extern int32_t gLauncherUpdateTried;
#endif
