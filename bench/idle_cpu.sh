#!/usr/bin/env bash
# Idle CPU of rompush: with the main window up and nothing to do, the command loop must
# sleep between its passes. Starts the built program on a virtual X display from a copy in
# a temporary folder, lets start-up finish, then measures the CPU time it takes over 10 s.
#
#   bench/idle_cpu.sh [build-dir]
# Prints "idle CPU: X.XX% of one core"; exits 1 above 1 %.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
if [[ ! -x "$build/rompush" ]]; then
    echo "no rompush in $build: build it first (cmake --build $build --target rompush)" >&2
    exit 2
fi
if ! command -v xvfb-run >/dev/null; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth >/dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$build/rompush" "$build/tarn-logo.png" "$work/"

cat >"$work/measure.sh" <<'INNER'
#!/usr/bin/env bash
set -u
cd "$1"
./rompush 2>/dev/null &
pid=$!
ticks() {  # utime + stime of the program, in clock ticks
    local stat
    stat="$(cat /proc/"$pid"/stat)" || return 1
    stat="${stat##*) }"  # fields after the command name
    set -- $stat
    echo $((${12} + ${13}))
}
sleep 3
before="$(ticks)" || { echo "rompush ended during start-up" >&2; exit 2; }
start="$(date +%s%N)"
sleep 10
after="$(ticks)" || { echo "rompush ended while measured" >&2; exit 2; }
end="$(date +%s%N)"
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
hz="$(getconf CLK_TCK)"
awk -v t=$((after - before)) -v hz="$hz" -v ns=$((end - start)) 'BEGIN {
    pct = 100 * (t / hz) / (ns / 1e9)
    printf "idle CPU: %.2f%% of one core\n", pct
    exit (pct > 1.0) ? 1 : 0
}'
INNER
chmod +x "$work/measure.sh"

xvfb-run -a -s "-screen 0 1024x768x24" "$work/measure.sh" "$work"
