#!/bin/sh
# startup_long_path.sh WINE_RUN LAUNCHER_EXE ERROR_BOX_EXE
# A launcher whose own path passes 259 characters must not run against a cut
# client folder, nor one whose folder leaves no room for its own files beside
# it (238 characters as Windows reads it, Z: included): it explains itself in
# a box and ends with code 0, touching nothing. (Only a start from the Unix
# side can give Wine such a path.)
set -eu
wineRun=$1
launcher=$2
errorBox=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
deep="$work/$(printf '%090d' 0 | tr 0 a)/$(printf '%090d' 0 | tr 0 b)/$(printf '%090d' 0 | tr 0 c)"
near="$work/$(printf '%0*d' $((235 - ${#work})) 0 | tr 0 d)"
status=0
for folder in "$deep" "$near"; do
    mkdir -p "$folder"
    cp "$launcher" "$folder/OrvelLauncher.exe"
    printf '[Launcher]\r\nUpdateUrl=http://127.0.0.1:9/\r\n' >"$folder/launcher.ini"
    (cd "$folder" && exec "$wineRun" OrvelLauncher.exe) &
    launcherPid=$!
    "$wineRun" "$errorBox" Orvel \
        "La ruta de la carpeta del launcher es demasiado larga. Move la carpeta del cliente a una ruta mas corta." ||
        { status=1; kill "$launcherPid"; }
    launcherStatus=0
    wait "$launcherPid" || launcherStatus=$?
    [ "$launcherStatus" -eq 0 ] || { echo "launcher exit code $launcherStatus"; status=1; }
    [ "$(LC_ALL=C ls "$folder")" = "$(printf 'OrvelLauncher.exe\nlauncher.ini')" ] || { echo "files were written"; status=1; }
done
[ "$status" -eq 0 ] && echo "both refused with their message and exit code 0"
exit "$status"
