#!/bin/sh
# startup_long_path.sh WINE_RUN LAUNCHER_EXE ERROR_BOX_EXE
# A launcher whose own path passes 259 characters must not run against a cut
# client folder: it explains itself in a box and ends with code 0, touching
# nothing. (Only a start from the Unix side can give Wine such a path.)
set -eu
wineRun=$1
launcher=$2
errorBox=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
deep="$work/$(printf '%090d' 0 | tr 0 a)/$(printf '%090d' 0 | tr 0 b)/$(printf '%090d' 0 | tr 0 c)"
mkdir -p "$deep"
cp "$launcher" "$deep/OrvelLauncher.exe"
printf '[Launcher]\r\nUpdateUrl=http://127.0.0.1:9/\r\n' >"$deep/launcher.ini"

(cd "$deep" && exec "$wineRun" OrvelLauncher.exe) &
launcherPid=$!
status=0
"$wineRun" "$errorBox" Orvel \
    "La ruta de la carpeta del launcher es demasiado larga. Move la carpeta del cliente a una ruta mas corta." ||
    status=1
launcherStatus=0
wait "$launcherPid" || launcherStatus=$?
[ "$launcherStatus" -eq 0 ] || { echo "launcher exit code $launcherStatus"; status=1; }
[ ! -e "$deep/OrvelLauncher.cache" ] || { echo "the cache file was written"; status=1; }
[ "$status" -eq 0 ] && echo "refused with its message and exit code 0"
exit "$status"
