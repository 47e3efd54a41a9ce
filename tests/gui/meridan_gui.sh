#!/usr/bin/env bash
# tests/gui/meridan_gui.sh BUILD-DIR OUTPUT.png: rompush on a virtual X display, the simulated
# Meridan (rompush-devsim --product meridan) on COM1 behind a pseudo-terminal. The Meridan is
# power cycled (SIGUSR1) and must be detected by its power-on text; after CONTINUE on its
# diagnostics, MAIN firmware and then USB firmware are loaded with Get Last Used (the settings
# file names both files) and sent with PROGRAM, factory defaults are loaded, and RESTART ends
# the Meridan mode. The product must then hold both files exactly as sent. The Meridan view is
# saved as a picture. MERIDAN_KEEP=1 keeps the work folder for a look afterwards.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=window_driver.sh
source "$here/window_driver.sh"
# Seconds: start-up and detection take a few; a 32 KB file takes about 7 s on the wire.
readonly kStepSeconds=60 kProgram=180

# shellcheck disable=SC2317 # the helpers are called through wait_for, press and the trap
on_display() {
    local work="$1" shot="$2" started begun mark
    begin_on_display "$work" || return 1
    banner_since() { shown_since "$mark" frmUI.lblPASS.Caption "$1"; }
    # step NAME BUTTON BANNER: presses BUTTON and waits for BANNER on the message line.
    step() {
        begun=$SECONDS mark="$(lines_logged)"
        press "$2" || return 1
        wait_for "$kProgram" "\"$3\" after $1" banner_since "$3" || return 1
        echo "$1: $((SECONDS - begun)) s"
    }
    # continue_view: CONTINUE once the view offers it.
    continue_view() {
        wait_for "$kStepSeconds" "CONTINUE" shows frmUI.btnCANCEL.Caption CONTINUE || return 1
        wait_for "$kStepSeconds" "CONTINUE shown" shows frmUI.btnCANCEL.Visible True || return 1
        click_control "$main" frmUI btnCANCEL
        wait_for "$kStepSeconds" "CONTINUE taken" shows frmUI.btnCANCEL.Visible False
    }

    started=$SECONDS
    start_devsim_and_window --product meridan --held-out "$work/held" || return
    echo "start-up: $((SECONDS - started)) s"

    # Power cycle: the banner check hears the Meridan and its diagnostics are shown.
    kill -USR1 "$devsim"
    continue_view || return 1
    wait_for "$kStepSeconds" "RESTART caption" shows frmUI.btnSCAN.Caption RESTART || return 1
    echo "detected and served: $((SECONDS - started)) s"

    step "Get Last Used MAIN" btnLASTUSED "HEX FILE OK" || return 1
    step "PROGRAM MAIN" btnPROGRAM "PROGRAM OK" || return 1
    wait_for "$kStepSeconds" "USB option enabled" shows frmUI.optUSB.Enabled True || return 1
    click_control "$main" frmUI optUSB || return 1
    wait_for "$kStepSeconds" "PROGRAM USB" shows frmUI.btnPROGRAM.Caption "PROGRAM USB" ||
        return 1
    step "Get Last Used USB" btnLASTUSED "USB HEX FILE OK" || return 1
    step "PROGRAM USB" btnPROGRAM "PROGRAM OK" || return 1
    step "LOAD DEFAULTS" btnVERIFY "LOAD DEFAULTS OK" || return 1

    # The Meridan view, with the pointer off the buttons.
    xdotool mousemove --window "$main" 0 0
    sleep 1
    import -window "$main" "$shot" 2>/dev/null || { fail "no picture taken"; return 1; }

    begun=$SECONDS
    press btnSCAN || return 1
    continue_view || return 1
    wait_for "$kStepSeconds" "SCAN again" shows frmUI.btnSCAN.Caption SCAN || return 1
    echo "RESTART: $((SECONDS - begun)) s"
    echo "whole run: $((SECONDS - started)) s"
}

# Status: 0 all held, 3 the virtual display could not be reached, else a failure.
if [[ "${1:-}" == "--on-display" ]]; then
    on_display "$2" "$3"
    exit $?
fi

(($# == 2)) || { echo "usage: $0 BUILD-DIR OUTPUT.png" >&2; exit 2; }
prepare_run "$1" "$2" MERIDAN_KEEP meridan rompush rompush-devsim tarn-logo.png
mkdir -p "$work/held"
# Two firmware files, MAIN (letter X) and USB (letter S), remembered as last used.
python3 - "$work" <<'EOF'
import sys
work = sys.argv[1]

def record(address, kind, data):
    body = bytes([len(data), address >> 8, address & 0xFF, kind]) + bytes(data)
    return ":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF)

for letter, name, size in (("X", "meridan-main.hex", 32768), ("S", "meridan-usb.hex", 8192)):
    lines = [record(0, 0, [1, 0, 0, ord(letter) ^ 0x96, 0, 0])]
    image = [(i * 31 + 7 + (i >> 8)) & 0xFF for i in range(size)]
    for at in range(6, size, 32):
        lines.append(record(at, 0, image[at:at + 32]))
    lines.append(record(0, 1, []))
    with open(f"{work}/{name}", "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
EOF
printf 'ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\nX %s\r\nS %s\r\n' \
    "$work/meridan-main.hex" "$work/meridan-usb.hex" >"$work/RomPush.INI"
run_on_display "$here/meridan_gui.sh"
if ((status == 0)); then
    cmp "$work/meridan-main.hex" "$work/held/main.hex" &&
        cmp "$work/meridan-usb.hex" "$work/held/usb.hex" ||
        { echo "the Meridan does not hold the files as sent" >&2; status=1; }
fi
report_run window.log:40 rompush.out:20 devsim.out:20 devsim.err:20
