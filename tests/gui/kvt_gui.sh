#!/usr/bin/env bash
# The KVT through the real window: rompush on a virtual X display, a simulated KVT from
# rompush-devsim (--product kvt) behind COM1. SCAN opens the port; the KVT is switched off and on
# (SIGUSR1) and announces itself; the program must recognise it and re-label the window for it.
# GET LAST USED takes the KVT's HEX file, PROGRAM asks for a power cycle, the KVT is cycled
# again and takes the file: "PROGRAM OK", and the KVT must hold exactly the file. Then the
# serial console shows the KVT's text and its Save button writes it to a text file. The window
# with the console is saved as a picture.
#
#   tests/gui/kvt_gui.sh BUILD-DIR OUTPUT.png
#
# Every wait watches the window log with a time-out. Exit 0 only when everything held. Set
# KVT_GUI_KEEP=1 to keep the work folder (logs, picture) for a look afterwards.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=window_driver.sh
source "$here/window_driver.sh"

# Seconds: every wait ends as soon as its sign shows; the download itself takes a few seconds.
readonly kStepSeconds="${KVT_GUI_STEP_SECONDS:-90}"

# shellcheck disable=SC2317 # the helpers are called through wait_for and the trap
on_display() {
    local work="$1" shot="$2" mark begun
    begin_on_display "$work" || return 1
    power_cycle() { kill -USR1 "$devsim"; }
    held_matches() { cmp -s "$work/kvt.hex" "$work/held/kvt.hex"; }
    save_window() { find_window '^Save Serial Console Session'; }

    mkdir -p "$work/held"
    start_devsim_and_window --product kvt --held-out "$work/held" || return

    # SCAN opens COM1 at 115200 baud once its probes are done; nothing answers them.
    press btnSCAN || return 1
    wait_for "$kStepSeconds" "SCAN ended" shows frmUI.lblPASS.Caption "TARN Product Not Found" ||
        return 1

    # The KVT powers up: the window becomes the KVT's.
    begun=$SECONDS
    power_cycle
    wait_for "$kStepSeconds" "the KVT recognised" shows frmUI.btnVERIFY.Caption \
        "REMAP KVT BUTTONS" || return 1
    wait_for "$kStepSeconds" "the KVT's mapping shown" \
        grep -q '^frmUI.lblERASE.Caption = .*BUTTON 1 to PORT 1' "$log" || return 1
    echo "KVT recognised after $((SECONDS - begun)) s"

    mark="$(lines_logged)"
    press btnLASTUSED || return 1
    wait_for "$kStepSeconds" '"HEX FILE OK"' shown_since "$mark" frmUI.lblPASS.Caption \
        "HEX FILE OK" || return 1

    begun=$SECONDS mark="$(lines_logged)"
    press btnPROGRAM || return 1
    wait_for "$kStepSeconds" "the request for a power cycle" shown_since "$mark" \
        frmUI.lblPROGRAM.Caption "Cycle power on KVT to begin programming." || return 1
    # Cancel shows once the program listens for the power cycle.
    wait_for "$kStepSeconds" "Cancel" shows frmUI.btnCANCEL.Visible True || return 1
    power_cycle
    wait_for "$kStepSeconds" '"PROGRAM OK"' shown_since "$mark" frmUI.lblPASS.Caption \
        "PROGRAM OK" || return 1
    echo "download: $((SECONDS - begun)) s"
    wait_for 10 "the KVT holding the file" held_matches || return 1

    # The console shows what the KVT said; Save writes it.
    wait_for "$kStepSeconds" "Show Serial Console enabled" shows frmUI.btnShowDiagnostic.Enabled \
        True || return 1
    click_control "$main" frmUI btnShowDiagnostic || return 1
    wait_for "$kStepSeconds" "the console" shows frmUI.txtSerialDisplay.Visible True || return 1
    xdotool mousemove --window "$main" 0 0
    sleep 1
    import -window "$main" "$shot" 2>/dev/null || { fail "no picture of the window"; return 1; }
    click_control "$main" frmUI btnSaveSerialDisplay || return 1
    wait_for "$kStepSeconds" "the save dialog" save_window || return 1
    xdotool windowactivate --sync "$found" 2>/dev/null
    sleep 0.5
    xdotool key --window "$found" ctrl+a
    xdotool type --delay 20 "$work/console.txt"
    xdotool key Return
    wait_for "$kStepSeconds" "the saved console" test -s "$work/console.txt" || return 1
    grep -q "KVT Rev 4.2 NPV" "$work/console.txt" ||
        { fail "the saved console lacks the new revision"; return 1; }
    grep -q "KVT-BL Rev" "$work/console.txt" ||
        { fail "the saved console lacks the boot loader's text"; return 1; }
    echo "console saved: $(wc -c <"$work/console.txt") bytes"
}

# Status: 0 all held, 3 the virtual display could not be reached, else a failure.
if [[ "${1:-}" == "--on-display" ]]; then
    on_display "$2" "$3"
    exit $?
fi

(($# == 2)) || { echo "usage: $0 BUILD-DIR OUTPUT.png" >&2; exit 2; }
prepare_run "$1" "$2" KVT_GUI_KEEP kvt rompush rompush-devsim tarn-logo.png
# A KVT application whose revision line reads "KVT Rev 4.2 NPV", remembered as the KVT's last
# used file.
python3 - "$work/kvt.hex" <<'PY'
import sys
image = bytearray((i * 37 + 11) & 0xFF for i in range(4096))
image[64:64 + 16] = b"KVT Rev 4.2 NPV\0"
lines = []
for at in range(0, len(image), 16):
    data = image[at:at + 16]
    fields = [len(data), at >> 8, at & 0xFF, 0] + list(data)
    lines.append(":" + "".join("%02X" % b for b in fields) + "%02X" % (-sum(fields) & 0xFF))
lines.append(":00000001FF")
open(sys.argv[1], "w", newline="").write("\r\n".join(lines) + "\r\n")
PY
printf 'ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\n$ %s\r\n' \
    "$work/kvt.hex" >"$work/RomPush.INI"
run_on_display "$here/kvt_gui.sh"
report_run window.log:60 rompush.out:20 devsim.out:20 devsim.err:20
