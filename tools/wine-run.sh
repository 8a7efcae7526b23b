#!/bin/sh
# Runs a Windows program under Wine in the build's own prefix, so tests never
# touch a user's ~/.wine and no Mono or Gecko installer is offered.
# WINEPREFIX may be set by the caller; otherwise the prefix lives beside the
# build folder's CMakeCache.txt, found from the current directory upwards.
# Without DISPLAY it uses the test run's virtual screen named in
# ORVEL_TEST_DISPLAY_FILE, or else a private one for this program alone.
set -e
if [ -z "$WINEPREFIX" ]; then
    dir=$(pwd)
    while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    [ -f "$dir/CMakeCache.txt" ] || { echo "wine-run.sh: no build folder above $(pwd)" >&2; exit 2; }
    WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ -z "${DISPLAY:-}" ] && [ -n "${ORVEL_TEST_DISPLAY_FILE:-}" ]; then
    DISPLAY=$(cat "$ORVEL_TEST_DISPLAY_FILE") || { echo "wine-run.sh: the test run's screen is not up" >&2; exit 2; }
    export DISPLAY
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Tests start in parallel: one of them creates the prefix, the others wait.
    # A program that crashes ends at once with its backtrace on stderr, instead
    # of waiting behind a crash dialog on the tests' screen.
    mkdir -p "$WINEPREFIX"
    flock "$WINEPREFIX/.init-lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || { wineboot --init >/dev/null 2>&1;
        wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1;
        wineserver --wait; }'
fi
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" wine "$@"
fi
exec wine "$@"
