#!/usr/bin/env bash
# Installs what is missing, builds RomPush and starts it. Without a serial adapter attached,
# a simulated TWPx Receiver answers on COM1 and a sample HEX file waits in HexFiles. Without
# access to the keyboard controller (/dev/port, and the rights of rompush-kbc-helper: see the
# README), a simulated Orbit Tiny answers on "PS/2"
# (ROMPUSH_SIM_PS2 set beforehand chooses another model, or "none" the real port).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROMPUSH_GUI=ON -DROMPUSH_TESTS=OFF >/dev/null
cmake --build build -j "$jobs" --target rompush rompush-kbc-helper rompush-devsim

# The program folder is the build folder: settings, port map and HEX files live there.
folder="$PWD/build"
mkdir -p "$folder/HexFiles"
cp samples/*.hex "$folder/HexFiles/"

devsim_pid=""
if [ -z "$(ls /dev/ttyUSB* /dev/ttyACM* 2>/dev/null)" ]; then
    "$folder/rompush-devsim" --folder "$folder" --com 1 --type 3 &
    devsim_pid=$!
    trap '[ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null' EXIT
    sleep 1
fi

if [ -z "${ROMPUSH_SIM_PS2:-}" ] && ! { [ -e /dev/port ] &&
    getcap "$folder/rompush-kbc-helper" 2>/dev/null | grep -q cap_sys_rawio; }; then
    export ROMPUSH_SIM_PS2=orbit-tiny
fi
if [ "${ROMPUSH_SIM_PS2:-}" = none ]; then
    unset ROMPUSH_SIM_PS2
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting RomPush under a virtual X server."
    xvfb-run -a "$folder/rompush"
else
    "$folder/rompush"
fi
