#!/bin/sh
# Refreshes the title font (Cinzel Bold) and its licence from the npm package
# that redistributes the Google Fonts build. The result is committed, so the
# build itself never needs the network; run this only to update the font.
#
#   tools/fetch_font.sh            # pinned version below
#   CINZEL_VERSION=latest tools/fetch_font.sh
set -eu

CINZEL_VERSION="${CINZEL_VERSION:-0.4.2}"
PACKAGE="@expo-google-fonts/cinzel@${CINZEL_VERSION}"

root="$(cd "$(dirname "$0")/.." && pwd)"
dest="$root/resources"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT INT TERM

cd "$work"
npm pack --silent "$PACKAGE" >/dev/null
tar -xzf ./*.tgz

ttf="package/700Bold/Cinzel_700Bold.ttf"
ofl="package/LICENSE_FONT"
[ -f "$ttf" ] || { echo "fetch_font: $ttf missing from $PACKAGE" >&2; exit 1; }
[ -f "$ofl" ] || { echo "fetch_font: $ofl missing from $PACKAGE" >&2; exit 1; }
grep -q "SIL Open Font License" "$ofl" || { echo "fetch_font: $ofl is not the OFL" >&2; exit 1; }

# The launcher registers the font by family name, so refuse a renamed build.
/usr/bin/python3 - "$ttf" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
if struct.unpack(">I", data[:4])[0] != 0x00010000:
    sys.exit("fetch_font: not a TrueType sfnt")
count = struct.unpack(">H", data[4:6])[0]
tables = {}
for i in range(count):
    tag, _, off, length = struct.unpack(">4sIII", data[12 + 16 * i:28 + 16 * i])
    tables[tag] = (off, length)
off = tables[b"name"][0]
_, records, strings = struct.unpack(">HHH", data[off:off + 6])
names = {}
for i in range(records):
    pid, _, _, nid, length, soff = struct.unpack(">6H", data[off + 6 + 12 * i:off + 18 + 12 * i])
    if pid == 3:
        start = off + strings + soff
        names.setdefault(nid, data[start:start + length].decode("utf-16-be"))
family = names.get(16, names.get(1))
if family != "Cinzel":
    sys.exit("fetch_font: family is %r, expected 'Cinzel'" % family)
print("fetch_font: family %s, %s" % (family, names.get(0, "")))
EOF

cp "$ttf" "$dest/Cinzel-Bold.ttf"
cp "$ofl" "$dest/Cinzel-OFL.txt"
echo "fetch_font: wrote $dest/Cinzel-Bold.ttf and $dest/Cinzel-OFL.txt from $PACKAGE"
