#!/usr/bin/env bash
# Takes a picture of the main window as it looks after start-up: runs the built rompush on a
# virtual X display from a copy in a temporary folder (so the settings file it writes lands
# there) and saves the screen to docs/main-window.png.
#
#   scripts/screenshot.sh [build-dir] [output.png]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
out="${2:-$repo/docs/main-window.png}"

if [[ ! -x "$build/rompush" ]]; then
    echo "no rompush in $build: build it first (cmake --build $build --target rompush)" >&2
    exit 1
fi

# The X tools: xvfb-run, and ImageMagick's import to grab the screen.
need=()
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
command -v import >/dev/null || need+=(imagemagick)
command -v xwininfo >/dev/null || need+=(x11-utils)
if ((${#need[@]})); then
    echo "installing ${need[*]}" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$build/rompush" "$build/tarn-logo.png" "$work/"
mkdir -p "$(dirname "$out")"

# The inner script runs on the virtual display: start the program, wait for start-up to
# settle, grab the screen, stop the program.
cat >"$work/shoot.sh" <<'INNER'
#!/usr/bin/env bash
set -u
cd "$1"
./rompush &
pid=$!
sleep "${SHOT_DELAY:-3}"
# The main window alone, found by its title.
window="$(xwininfo -root -tree | awk '/"RomPush/ {print $1; exit}')"
import -window "${window:-root}" "$2"
status=$?
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit $status
INNER
chmod +x "$work/shoot.sh"

xvfb-run -a -s "-screen 0 520x480x24" "$work/shoot.sh" "$work" "$out"
echo "saved $out"
