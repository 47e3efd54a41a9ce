#!/usr/bin/env bash
# tests/gui/crossfield_gui.sh BUILD-DIR OUTPUT.png: rompush on a virtual X display, the
# simulated Crossfield (rompush-devsim --product crossfield at 9600 baud) on COM1 behind a
# pseudo-terminal. The Crossfield is switched off and on (SIGUSR1) and must be recognised; its
# diagnostics are continued; Get Last Used (the settings file names a Crossfield HEX file) and
# PROGRAM send the file, which the Crossfield must then hold; LOAD START CPU changes the
# starting computer to 9 and saves it; RESTART / CHANGE BAUD restarts it at 57600 baud and the
# window goes back to its normal look. The Crossfield view is saved as a picture.
# CROSSFIELD_KEEP=1 keeps the work folder for a look afterwards.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=window_driver.sh
source "$here/window_driver.sh"
# Seconds: recognition and the power-on text take a few; the file goes at 57600 baud and the
# Crossfield flashes for about six seconds.
readonly kStepSeconds="${CROSSFIELD_STEP_SECONDS:-90}"

# shellcheck disable=SC2317 # the helpers are called through wait_for, press and the trap
on_display() {
    local work="$1" shot="$2" begun
    begin_on_display "$work" || return 1
    # click_and_see CONTROL KEY VALUE: a click on a main-window control, then KEY shows VALUE.
    click_and_see() {
        local mark attempt
        mark="$(lines_logged)"
        for attempt in 1 2 3; do
            click_control "$main" frmUI "$1" || return 1
            wait_quietly 5 shown_since "$mark" "$2" "$3" && return 0
            alive || return 1
        done
        fail "$1 clicked, but $2 did not show $3"
    }
    banner_shown() { shown_since "$mark" frmUI.lblPASS.Caption "$1"; }
    # CROSSFIELD_VIEWS=DIR: pictures of the other views too, for a look.
    view_shot() {
        [[ -n "${CROSSFIELD_VIEWS:-}" ]] || return 0
        sleep 1
        import -window "$main" "$CROSSFIELD_VIEWS/$1.png" 2>/dev/null
    }

    start_devsim_and_window --product crossfield --option baud=9600 \
        --held-out "$work/held" || return

    # Power cycle: the banner check hears the Crossfield and shows its diagnostics.
    begun=$SECONDS
    kill -USR1 "$devsim"
    wait_for "$kStepSeconds" "the Crossfield's diagnostics" shows frmUI.btnCANCEL.Caption CONTINUE ||
        return 1
    echo "recognised and read: $((SECONDS - begun)) s"
    view_shot diagnostics
    click_and_see btnCANCEL frmUI.btnSCAN.Caption "RESTART / CHANGE BAUD" || return 1
    wait_for "$kStepSeconds" "Crossfield buttons" shows frmUI.btnStartCpu.Caption \
        "LOAD START CPU ... 5" || return 1

    local mark
    mark="$(lines_logged)"
    press btnLASTUSED || return 1
    wait_for "$kStepSeconds" "Crossfield HEX FILE OK" banner_shown "Crossfield HEX FILE OK" ||
        return 1
    begun=$SECONDS mark="$(lines_logged)"
    press btnPROGRAM || return 1
    wait_for 300 "PROGRAM OK" banner_shown "PROGRAM OK" || return 1
    echo "PROGRAM: $((SECONDS - begun)) s"

    # The starting computer: 9 typed into the dialog, OK, and read back from the menu.
    press btnStartCpu || return 1
    wait_for "$kStepSeconds" "the start-CPU dialog" shows frmStartCpu.Visible True || return 1
    wait_for "$kStepSeconds" "Load Start CPU window" find_window '^Load Start CPU$' || return 1
    local dialog="$found"
    click_control "$dialog" frmStartCpu txtStartCpu || return 1
    xdotool key --delay 100 ctrl+a 9
    sleep 0.5
    click_control "$dialog" frmStartCpu btnOK || return 1
    wait_for "$kStepSeconds" "starting computer 9" shows frmUI.btnStartCpu.Caption \
        "LOAD START CPU ... 9" || return 1
    wait_for "$kStepSeconds" "buttons back" shows frmUI.btnSCAN.Enabled True || return 1

    # The picture: the Crossfield view, the pointer off the buttons.
    xdotool mousemove --window "$main" 0 0
    sleep 1
    import -window "$main" "$shot" 2>/dev/null || { fail "no picture of the window"; return 1; }

    # Restart at 57600 baud.
    press btnSCAN || return 1
    wait_for "$kStepSeconds" "the baud choice" shows frmUI.optBaud57600.Visible True || return 1
    view_shot baud-choice
    click_control "$main" frmUI optBaud57600 || return 1
    sleep 0.5
    click_and_see btnRestartCFX frmUI.btnRestartCFX.Visible False || return 1
    wait_for "$kStepSeconds" "the restart's diagnostics" shows frmUI.btnCANCEL.Caption CONTINUE ||
        return 1
    shows frmUI.txtNote.Visible True || { fail "no note that RomPush leaves Crossfield mode"; return 1; }
    view_shot restarted
    click_and_see btnCANCEL frmUI.btnCANCEL.Visible False || return 1
    wait_for "$kStepSeconds" "the normal window" shows frmUI.btnSCAN.Caption SCAN || return 1
    # Back in the normal mode the idle banner check must not take the Crossfield's text for
    # another product: the window stays as it is for a few seconds.
    mark="$(lines_logged)"
    sleep 4
    if shown_since "$mark" frmUI.btnCANCEL.Visible True; then
        fail "a product view opened after the restart"
        return 1
    fi
}

# Status: 0 all held, 3 the virtual display could not be reached, else a failure.
if [[ "${1:-}" == "--on-display" ]]; then
    on_display "$2" "$3"
    exit $?
fi

(($# == 2)) || { echo "usage: $0 BUILD-DIR OUTPUT.png" >&2; exit 2; }
prepare_run "$1" "$2" CROSSFIELD_KEEP crossfield rompush rompush-devsim tarn-logo.png
# A Crossfield HEX file (product code of letter "U") and a settings file whose entry for "U"
# names it, so Get Last Used finds it.
hex="$work/Crossfield-sample.hex"
python3 - "$hex" <<'EOF'
import sys
def record(address, kind, data):
    body = bytes([len(data), address >> 8, address & 0xFF, kind]) + bytes(data)
    return ":" + body.hex().upper() + "%02X" % (-sum(body) & 0xFF)
lines = [record(0, 0, [1, 0, 0, ord("U") ^ 0x96, 0, 0])]
lines += [record(a, 0, [(a + i * 7) & 0xFF for i in range(32)]) for a in range(0, 8192, 32)]
lines.append(record(0, 1, []))
open(sys.argv[1], "w", newline="").write("\r\n".join(lines) + "\r\n")
EOF
mkdir -p "$work/held"
printf 'ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\nU %s\r\n' "$hex" \
    >"$work/RomPush.INI"
run_on_display "$here/crossfield_gui.sh"
if ((status == 0)); then
    cmp -s "$hex" "$work/held/cfx.hex" ||
        { echo "FAILED: the Crossfield does not hold the HEX file" >&2; status=1; }
fi
report_run window.log:60 rompush.out:20 devsim.out:20 devsim.err:20
