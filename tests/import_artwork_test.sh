#!/bin/sh
# import_artwork_test.sh WINDRES CXX
# An operator's own pictures, put in with tools/import_artwork.py, must make
# resources that pass the same checks as the launcher's own.
set -eu
windres=$1
cxx=$2
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/resources" "$work/shell"

# Pictures of other sizes than the launcher's, as an operator would bring.
/usr/bin/convert -size 1200x600 gradient:'#203050-#a05030' "$work/mine.png"
/usr/bin/convert -size 300x300 xc:none -fill '#d4a040' -draw 'circle 150,150 150,20' "$work/emblem.png"
/usr/bin/python3 "$root/tools/import_artwork.py" --background "$work/mine.png" --icon "$work/emblem.png" \
    --out "$work/resources"

cp "$root/resources/launcher.rc" "$root/resources/Cinzel-Bold.ttf" "$work/resources/"
cp "$root/shell/Version.h" "$work/shell/"
"$windres" "$work/resources/launcher.rc" -O coff -o "$work/resources.o"
echo 'int main() { return 0; }' >"$work/main.cpp"
"$cxx" -static "$work/main.cpp" "$work/resources.o" -o "$work/with-my-artwork.exe"
/usr/bin/python3 "$root/tests/check_resources.py" "$work/with-my-artwork.exe"
