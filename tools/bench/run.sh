#!/bin/sh
# The benchmark: tools/bench/run.sh [--quick]
# Installs what is missing, builds the launcher's engine with the benchmark's
# programs (Release, MinGW-w64) and the rules natively (Release, no
# sanitizers), then runs tools/bench/bench.py: data under a temporary folder,
# nginx on 127.0.0.1, update runs under Wine, one table on standard output.
# Not a test and not part of CI. ORVEL_BUILD_DIR moves the build folders.
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/build.sh"
# The block delta row's references: Debian's zsync 0.6.2, rsync and zstd.
"$root/tools/install-deps.sh" zsync rsync zstd
buildWindows bench_run bare_wininet >/dev/null
cmake -S "$root" -B "$build/bench-native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/bench-native" -j "$jobs" --target bench_manifest orvel-publish >/dev/null

# One Wine server for the whole benchmark, so that no run pays for starting
# it. At the end it is stopped, with the programs of the build's own prefix,
# before their screen goes; a caller's own prefix is left to end by itself a
# minute after its last program.
ownPrefix=""
[ -z "${WINEPREFIX:-}" ] && ownPrefix=1
export WINEPREFIX="${WINEPREFIX:-$build/windows/wineprefix}"
xvfb=""
finish() {
    if [ -n "$ownPrefix" ]; then wineserver -k 2>/dev/null || true; fi
    if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
}
trap finish EXIT
trap 'exit 1' INT TERM

# Windows need an X display: a private virtual screen unless one is set.
if [ -z "${DISPLAY:-}" ]; then
    display=99
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=":$display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.2; done
fi
"$root/tools/wine-run.sh" "$build/windows/tools/bench/bench_run.exe" >/dev/null 2>&1 || true
wineserver -p60 2>/dev/null || true

/usr/bin/python3 "$root/tools/bench/bench.py" --root "$root" --windows-build "$build/windows" \
    --native-build "$build/bench-native" "$@"
