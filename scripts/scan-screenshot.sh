#!/usr/bin/env bash
# Takes a picture of the main window after SCAN has found a simulated TWPx Receiver: runs
# rompush-devsim on COM1 and the built rompush on a virtual X display, clicks SCAN, waits and
# saves the window to docs/scan-found.png.
#
#   scripts/scan-screenshot.sh [build-dir] [output.png]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
out="${2:-$repo/docs/scan-found.png}"
for program in rompush rompush-devsim; do
    [[ -x "$build/$program" ]] || { echo "no $program in $build: build it first" >&2; exit 1; }
done
for tool in xvfb-run import xwininfo xdotool; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$build/rompush" "$build/rompush-devsim" "$build/tarn-logo.png" "$work/"
printf 'ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\n' >"$work/RomPush.INI"
mkdir -p "$(dirname "$out")"

cat >"$work/shoot.sh" <<'INNER'
#!/usr/bin/env bash
set -u
cd "$1"
./rompush-devsim --folder "$1" --com 1 --type 3 --quiet >/dev/null &
devsim=$!
sleep 0.5
./rompush &
pid=$!
sleep 3
window="$(xwininfo -root -tree | awk '/"RomPush/ {print $1; exit}')"
# SCAN: 240, 1240 twips, 2655 x 375 twips.
xdotool mousemove --window "$window" 100 95 click 1
sleep "${SCAN_WAIT:-4}"
import -window "${window:-root}" "$2"
status=$?
kill "$pid" "$devsim" 2>/dev/null
wait 2>/dev/null
exit $status
INNER
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 520x480x24" "$work/shoot.sh" "$work" "$out"
echo "saved $out"
