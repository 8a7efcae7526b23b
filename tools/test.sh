#!/bin/sh
# The test command: installs what is missing, builds the Windows launcher and
# its tests (cross-compiled, run under Wine) and the native rules tests (with
# AddressSanitizer and UndefinedBehaviorSanitizer), and runs every test.
# The Windows tests run on a private virtual screen that CTest starts and stops
# itself, never on the caller's own display.
. "$(dirname "$0")/build.sh"
buildNative
buildWindows

echo "== native tests"
ctest --test-dir "$build/native" --output-on-failure -j "$jobs"
echo "== Windows tests under Wine"
env -u DISPLAY ctest --test-dir "$build/windows" --output-on-failure -j "$jobs"
