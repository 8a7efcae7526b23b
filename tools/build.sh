# Sourced by the set-up commands: installs what is missing and configures and
# builds the two trees, build/native (host, sanitizers) and build/windows
# (MinGW-w64). buildNative and buildWindows take build targets (none: all).
set -eu
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}  # callers outside tools/ set it first
build=${ORVEL_BUILD_DIR:-$root/build}
jobs=$(nproc)

"$root/tools/install-deps.sh"

buildNative() {
    cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build "$build/native" -j "$jobs" ${1:+--target} "$@"
}

buildWindows() {
    cmake -S "$root" -B "$build/windows" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
    cmake --build "$build/windows" -j "$jobs" ${1:+--target} "$@"
}
