#!/usr/bin/env bash
# Takes a picture of the main window after a whole PROGRAM through the real window: SCAN finds
# a simulated TWPx Receiver (rompush-devsim on COM1), Get Last Used loads the sample HEX file,
# PROGRAM writes it and VERIFY checks it; the picture shows the green "Program and Verify OK"
# banner. This is the GUI test of tests/gui run on its own; it fails when the test fails.
#
#   scripts/program-verify-screenshot.sh [build-dir] [output.png]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
out="${2:-$repo/docs/program-verify.png}"
exec bash "$repo/tests/gui/program_verify_gui.sh" "$build" "$out"
