#!/bin/sh
# The main job: installs what is missing, builds the launcher, the sample game
# and the publishing tool, and shows the launcher updating a half-installed
# client from a sample release served by nginx on 127.0.0.1.
. "$(dirname "$0")/build.sh"
buildNative orvel-publish
buildWindows OrvelLauncher sample_game
exec /usr/bin/python3 "$root/tools/demo/demo.py" "$build/windows" "$build/native" "$@"
