#!/bin/sh
# xscreen.sh start FILE | stop FILE [PREFIX...]
# The Windows tests' screen (a CTest fixture). start writes the display to FILE:
# the caller's DISPLAY, or without one a private 1920x1080 Xvfb that ends with
# the test run even if the run is killed. stop waits for the Wine servers of the
# PREFIXes to end, then stops that Xvfb.
set -eu
file=$2
case $1 in
start)
    rm -f "$file"
    if [ -n "${DISPLAY:-}" ]; then
        echo "$DISPLAY" >"$file"
        exit 0
    fi
    # Xvfb picks a free display and writes its number once it takes clients.
    # Its keeper (a new session, so CTest does not wait for it) stops it when the run is gone.
    run=$PPID
    setsid sh -c 'Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$1.number" &
        echo "$$ $!" >"$1.pids"
        tail --pid="$2" -f /dev/null
        kill $! 2>/dev/null; rm -f "$1" "$1.number" "$1.pids"' sh "$file" "$run" </dev/null >/dev/null 2>&1 &
    for _ in $(seq 100); do
        [ -s "$file.number" ] && break
        sleep 0.1
    done
    [ -s "$file.number" ] || { echo "Xvfb did not start"; exit 1; }
    echo ":$(cat "$file.number")" >"$file"
    echo "screen $(cat "$file")"
    ;;
stop)
    shift 2
    for prefix; do
        [ -d "$prefix" ] || continue
        WINEPREFIX=$prefix timeout 60 wineserver -w || WINEPREFIX=$prefix wineserver -k || true
        # Debian's Wine keeps its server's lock in a folder under TMPDIR that the prefix names.
        name=$(cat "$prefix/wineserver" 2>/dev/null) || continue
        case $name in wine-??????) rm -rf "${TMPDIR:-/tmp}/$name" "$prefix/wineserver" ;; esac
    done
    if [ -s "$file.pids" ]; then
        read -r keeper xvfb <"$file.pids"
        kill -- "-$keeper" 2>/dev/null || true  # the keeper's session: itself, Xvfb and its wait
        for _ in $(seq 100); do kill -0 "$xvfb" 2>/dev/null && sleep 0.1 || break; done
    fi
    rm -f "$file" "$file.number" "$file.pids"
    ;;
esac
