#!/usr/bin/env bash
# tests/gui/program_verify_gui.sh BUILD-DIR OUTPUT.png: rompush on a virtual X display, a
# simulated TWPx Receiver (rompush-devsim) on COM1 behind a pseudo-terminal; SCAN, Get Last Used
# (the settings file names the sample HEX file) and PROGRAM are clicked on the real buttons. The
# run must end with a green "Program and Verify OK" banner and the device's flash must hold
# exactly the file's image; the finished window is saved as a picture. Every wait watches the
# window log (ROMPUSH_WINDOW_LOG) with a time-out, so a slow machine only makes the run longer.
# PROGRAM_VERIFY_KEEP=1 keeps the work folder for a look afterwards.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=window_driver.sh
source "$here/window_driver.sh"
# Seconds: start-up, SCAN and the file check take a few; PROGRAM erases and writes 256 pages
# and reads them all back.
readonly kStepSeconds=60 kProgram=180
readonly kGreen="0,192,0" # the banner's colour for a good result (&H00C000)

# ---- on the virtual display: drive the window. Arguments: work folder, picture path. ------
# shellcheck disable=SC2317 # the helpers are called through wait_for, press and the trap
on_display() {
    local work="$1" shot="$2" started begun mark status
    begin_on_display "$work" || return 1
    # step NAME BUTTON BANNER NEXT: presses BUTTON, waits for BANNER and a usable NEXT button.
    step() {
        begun=$SECONDS mark="$(lines_logged)"
        press "$2" || return 1
        wait_for "$kStepSeconds" "\"$3\" after $1" shown_since "$mark" frmUI.lblPASS.Caption "$3" ||
            return 1
        wait_for "$kStepSeconds" "$4 enabled" shows "frmUI.$4.Enabled" True || return 1
        echo "$1: $((SECONDS - begun)) s"
    }
    # The colour most of the banner's pixels have in the picture, as "r,g,b".
    banner_colour() {
        local l t w h
        read -r l t w h <<<"$(place_of frmUI lblPASS)"
        convert "$shot" -crop "${w}x${h}+${l}+${t}" +repage -depth 8 -format %c histogram:info:- \
            2>/dev/null | sort -rn | head -n1 |
            sed -nE 's/^ *[0-9]+: *\( *([0-9]+), *([0-9]+), *([0-9]+).*/\1,\2,\3/p'
    }
    green_in_picture() {
        import -window "$main" "$shot" 2>/dev/null && [[ "$(banner_colour)" == "$kGreen" ]]
    }
    # The run ends with the good banner or with an error code; a page whose CRC differed
    # after writing only shows a message and the run goes on, so that one fails it too.
    banners_since() { tail -n "+$((mark + 1))" "$log" | grep -E '^frmUI\.lblPASS\.Caption = '; }
    program_ended() { banners_since | grep -qE ' = (Program and Verify OK|ERROR)'; }
    devsim_ended() { ! kill -0 "$devsim" 2>/dev/null; }

    started=$SECONDS
    start_devsim_and_window --type 3 --flash-out "$work/flash.bin" || return
    echo "start-up: $((SECONDS - started)) s"
    step SCAN btnSCAN "TARN Product Found" btnLASTUSED || return 1
    step "Get Last Used" btnLASTUSED "HEX FILE OK" btnPROGRAM || return 1

    begun=$SECONDS mark="$(lines_logged)"
    press btnPROGRAM || return 1
    wait_for "$kProgram" '"Program and Verify OK" after PROGRAM' program_ended || return 1
    echo "PROGRAM and VERIFY: $((SECONDS - begun)) s"
    status="$(banners_since | grep -E ' = (ERROR|flash on chip)')"
    [[ -z "$status" ]] || { fail "the banner showed: $status"; return 1; }

    # The pointer off the buttons, and the picture taken once the banner is drawn green.
    xdotool mousemove --window "$main" 0 0
    wait_for 20 "green banner in the picture" green_in_picture ||
        { echo "banner colour in the picture: $(banner_colour), expected $kGreen" >&2; return 1; }
    shows frmUI.lblPASS.Caption "Program and Verify OK" ||
        { fail "the banner changed to \"$(shown frmUI.lblPASS.Caption)\""; return 1; }
    echo "whole run: $((SECONDS - started)) s"

    # The simulator saves its flash when it ends as well as after every GO.
    kill "$program"
    wait "$program" 2>/dev/null
    program=""
    kill "$devsim"
    wait_quietly 20 devsim_ended || { fail "rompush-devsim did not end"; return 1; }
    wait "$devsim"
    status=$?
    devsim=""
    ((status == 0)) || fail "rompush-devsim ended with status $status"
}

# Status: 0 all held, 3 the virtual display could not be reached, else a failure.
if [[ "${1:-}" == "--on-display" ]]; then
    on_display "$2" "$3"
    exit $?
fi

# ---- set-up, the run under Xvfb, and the flash check -------------------------------------
(($# == 2)) || { echo "usage: $0 BUILD-DIR OUTPUT.png" >&2; exit 2; }
prepare_run "$1" "$2" PROGRAM_VERIFY_KEEP program-verify rompush rompush-devsim tarn-logo.png
# The program folder also holds the HEX file and a settings file whose entry for letter "D"
# names that file, so Get Last Used finds it.
hex="$work/TWPx-Receiver-sample.hex"
cp "$here/../../samples/TWPx-Receiver-sample.hex" "$hex"
printf 'ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\nD %s\r\n' "$hex" \
    >"$work/RomPush.INI"
run_on_display "$here/program_verify_gui.sh"
if ((status == 0)); then
    python3 "$here/flash_matches_hex.py" "$hex" "$work/flash.bin"
    status=$?
fi
report_run window.log:40 rompush.out:20 devsim.out:40 devsim.err:40
