#!/bin/sh
# Installs the Debian packages that building and testing need, when missing.
# Usage: tools/install-deps.sh [extra packages...]
set -eu
packages="cmake make g++ googletest g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64
    xvfb xauth xdotool x11-utils imagemagick nginx python3 openssl ca-certificates curl
    libssl-dev $*"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq $missing >/dev/null
fi
