#!/usr/bin/env bash
# Line coverage of RomPush's logic by the tests.
#
# Builds the logic and the tests with gcc's --coverage at -O0 in a folder of their own
# (build-coverage, or the folder given as the first argument; ROMPUSH_GUI=OFF), runs the
# test binary once, and prints per folder and in total how many of the logic's lines the
# tests executed. With --missed it also lists, per file, the line numbers no test executed.
#
# "The logic" is everything under src/ that the product runs, except the Qt window code
# (src/platform/qt), which only the real-window test drives:
#   src/core, src/serial, src/hexfile, src/commands, src/ps2, src/menus, src/ui,
#   src/platform (platform.cpp and the interface headers) and src/platform/posix (the Linux
#   serial devices, port map, clock and poll loop that the shipped program uses; the tests
#   drive them against rompush-devsim over a pseudo-terminal).
# src/platform/sim is left out: it is the tests' stand-in for the platform, not the product,
# as are sim/ and tests/.
#
# Lines are counted as gcov counts them, merged over every object file that compiles them
# (a header's inline code counts once, executed when any object executed it); a source file
# the test binary never links counts with all its lines unexecuted.
set -euo pipefail
cd "$(dirname "$0")/.."
missed=0
if [ "${1:-}" = "--missed" ]; then
    missed=1
    shift
fi
build=${1:-build-coverage}
jobs=${JOBS:-2}

command -v gcov >/dev/null || { echo "gcov (from g++) is needed" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is needed" >&2; exit 1; }

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DROMPUSH_GUI=OFF -DROMPUSH_SANITIZE=OFF \
    -DCMAKE_CXX_COMPILER=g++ -DCMAKE_CXX_FLAGS="--coverage -O0" \
    -DCMAKE_EXE_LINKER_FLAGS="--coverage" >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null

# Counts of an earlier run would add to this one's.
find "$build" -name '*.gcda' -delete
(cd "$build" && ROMPUSH_DEVSIM="$PWD/rompush-devsim" ./rompush_tests --gtest_brief=1 >tests.log 2>&1) ||
    { tail -n 40 "$build/tests.log"; echo "tests failed; coverage not reported" >&2; exit 1; }

python3 - "$build" "$PWD" "$missed" <<'EOF'
import json, os, subprocess, sys
from collections import defaultdict

build, root, missed = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3] == "1"
src = os.path.join(root, "src") + os.sep

def is_logic(path):
    if not path.startswith(src):
        return False
    rel = path[len(src):]
    return not (rel.startswith("providers/qt/") or rel.startswith("providers/sim/"))

# line executed? per file, merged over every object file
lines = defaultdict(dict)
notes = []
for d, _, files in os.walk(build):
    notes += [os.path.join(d, f) for f in files if f.endswith(".gcno")]
for note in notes:
    out = subprocess.run(["gcov", "--json-format", "--stdout", note], cwd=build,
                         capture_output=True, check=True).stdout
    for doc in out.decode().splitlines():
        if not doc.strip():
            continue
        for f in json.loads(doc)["files"]:
            path = os.path.normpath(os.path.join(root, f["file"]))
            if not is_logic(path):
                continue
            seen = lines[path]
            for ln in f["lines"]:
                n = ln["line_number"]
                seen[n] = seen.get(n, False) or ln["count"] > 0

if missed:
    for path in sorted(lines):
        gaps = [str(n) for n, hit in sorted(lines[path].items()) if not hit]
        if gaps:
            print(os.path.relpath(path, root) + ": " + " ".join(gaps))
    print()

folders = defaultdict(lambda: [0, 0])
for path, seen in lines.items():
    folder = os.path.dirname(os.path.relpath(path, root))
    folders[folder][0] += sum(seen.values())
    folders[folder][1] += len(seen)

print(f"{'folder':<22}{'executed':>10}{'lines':>8}{'coverage':>10}")
total = [0, 0]
for folder in sorted(folders):
    hit, all_ = folders[folder]
    total[0] += hit
    total[1] += all_
    print(f"{folder:<22}{hit:>10}{all_:>8}{100.0 * hit / all_:>9.2f}%")
print(f"{'total':<22}{total[0]:>10}{total[1]:>8}{100.0 * total[0] / total[1]:>9.2f}%")
EOF
