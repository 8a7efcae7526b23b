#!/bin/sh
# Fuzzes every parser of outside input natively with libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer: each target of tests/fuzz
# runs SECONDS (default 60) on a copy of its seed corpus, one after another.
# Exits non-zero on any finding and says where its input was kept.
# Usage: tools/fuzz.sh [SECONDS [TARGET...]]   e.g. tools/fuzz.sh 600 Manifest
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${ORVEL_BUILD_DIR:-$root/build}/fuzz
seconds=${1:-60}
[ $# -gt 0 ] && shift
# The fuzzer's runtime is only a recommendation of clang: name it.
"$root/tools/install-deps.sh" clang libclang-rt-14-dev

flags="-std=c++17 -g -O1 -I$root -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
mkdir -p "$out/rules"
objects=""
for source in "$root"/shell/*.cpp "$root"/update/*.cpp; do
    case $source in *_win.cpp) continue ;; esac
    object="$out/rules/$(basename "$source" .cpp).o"
    clang++ $flags -fsanitize=fuzzer-no-link -c "$source" -o "$object"
    objects="$objects $object"
done

found=0
for target in ${*:-$(cd "$root/tests/fuzz" && ls *Fuzz.cpp | sed 's/Fuzz\.cpp$//')}; do
    clang++ $flags -fsanitize=fuzzer "$root/tests/fuzz/${target}Fuzz.cpp" $objects -o "$out/$target"
    # Fuzzing grows the copy; the repository's seeds stay as they are.
    rm -rf "$out/$target-corpus" && mkdir -p "$out/$target-corpus" "$out/findings"
    cp "$root/tests/fuzz/corpus/$target"/* "$out/$target-corpus/"
    # The cache outgrows its first 4,096 records and the path set its first
    # 1,024 slots only on longer inputs than libFuzzer's usual 4 KiB; a block
    # index and its copies need a few blocks of at least 1 KiB.
    case $target in BlockIndex | Cache | Manifest) size=65536 ;; *) size=4096 ;; esac
    echo "== $target: ${seconds}s"
    if ! "$out/$target" -max_total_time="$seconds" -max_len=$size -artifact_prefix="$out/findings/$target-" \
        "$out/$target-corpus" 2>"$out/$target.log"; then
        tail -n 40 "$out/$target.log"
        echo "FINDING in $target: input kept in $(ls -t "$out/findings/$target-"* | head -n 1)"
        found=1
    fi
    grep "^Done" "$out/$target.log" || true
done
exit $found
