#!/usr/bin/env bash
# Installs what is missing, builds RomPush and its tests twice (plain, and under
# AddressSanitizer and UndefinedBehaviorSanitizer), runs every test of both builds, builds and
# checks the Debian package, then the HEX validation benchmark and a one-minute fuzzing run of
# the HEX reader.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROMPUSH_GUI=ON >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DROMPUSH_GUI=OFF -DROMPUSH_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$jobs"

(cd build && ctest --output-on-failure -j "$jobs")
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs")

# The Debian package, and what it holds.
./scripts/package.sh build

# A full 32 KB HEX file must validate well under a second.
build/rompush-bench-hex 20
# The HEX reader under libFuzzer for a minute (clang, AddressSanitizer, UndefinedBehaviorSanitizer).
./scripts/fuzz.sh 60
