#!/usr/bin/env bash
# Fuzzes the HEX file reader (CkHexFile) with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer: builds build-fuzz with clang, then runs the target for the
# given number of seconds on a copy of fuzz/corpus/ck_hex_file. Fails on any crash, leak,
# time-out or broken check; the input that did it is left in build-fuzz/artifacts/.
#
#   scripts/fuzz.sh [seconds]        (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
jobs=$(nproc 2>/dev/null || echo 2)
((jobs > 2)) && jobs=2

for tool in clang clang++; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DROMPUSH_GUI=OFF -DROMPUSH_TESTS=OFF -DROMPUSH_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$jobs" --target rompush-fuzz-ck-hex-file

# The seeds stay as they are in the repository; what the run finds goes to the copy.
corpus="build-fuzz/corpus/ck_hex_file"
rm -rf "$corpus"
mkdir -p "$corpus" build-fuzz/artifacts
cp fuzz/corpus/ck_hex_file/* "$corpus/"

log="build-fuzz/ck_hex_file_fuzz.log"
status=0
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build-fuzz/rompush-fuzz-ck-hex-file -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ \
    "$corpus" >"$log" 2>&1 || status=$?

grep -E "^(stat::|Done |#[0-9]+ +DONE)" "$log" || true
if ((status != 0)); then
    tail -n 60 "$log" >&2
    echo "fuzzing CkHexFile failed (exit $status); inputs in build-fuzz/artifacts/, log in $log" >&2
    exit 1
fi
echo "fuzzing CkHexFile: no crash, leak or time-out in ${seconds} s ($(ls "$corpus" | wc -l) inputs in the corpus)"
