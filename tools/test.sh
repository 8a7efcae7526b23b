#!/bin/sh
# The test command: installs what is missing, builds the Windows launcher and
# its tests (cross-compiled, run under Wine) and the native rules tests (with
# AddressSanitizer and UndefinedBehaviorSanitizer), and runs every test.
. "$(dirname "$0")/build.sh"
buildNative
buildWindows

# One virtual screen for every windowed test, the size of a common monitor.
display=99
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT INT TERM
export DISPLAY=":$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.2; done

echo "== native tests"
ctest --test-dir "$build/native" --output-on-failure -j "$jobs"
echo "== Windows tests under Wine"
ctest --test-dir "$build/windows" --output-on-failure -j "$jobs"
