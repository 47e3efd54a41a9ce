#!/usr/bin/env bash
# Installs what is missing, builds RomPush and its tests twice (plain, and under
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test of both builds.
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
