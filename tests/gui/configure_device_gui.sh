#!/usr/bin/env bash
# CONFIGURE DEVICE through the real windows: rompush on a virtual X display with a simulated
# Orbit Mini behind "PS/2" (--sim-ps2=orbit-mini). SCAN finds it; CONFIGURE DEVICE opens
# "Configure Device" on the device's settings; two lists are changed with the mouse and the
# keyboard and OK writes them; CONFIGURE DEVICE again must open on the new settings, read back
# from the device. The dialog is saved as a picture.
#
#   tests/gui/configure_device_gui.sh BUILD-DIR OUTPUT.png
#
# Every wait watches the window log with a time-out. Exit 0 only when everything held. Set
# CONFIGURE_DEVICE_KEEP=1 to keep the work folder (logs, picture) for a look afterwards.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=window_driver.sh
source "$here/window_driver.sh"

# Time-outs, seconds: start-up and SCAN take a few seconds; reading or writing the settings
# takes the controller for about two. Every wait ends as soon as its sign shows, so the
# generous step time-out only matters on a machine busy with other builds;
# CONFIGURE_DEVICE_STEP_SECONDS sets another.
readonly kStepSeconds="${CONFIGURE_DEVICE_STEP_SECONDS:-120}"

# The simulated Orbit Mini's settings as it starts, as the dialog shows them, and the two
# lists changed: scan interval 3 -> 5 seconds, port 2 mouse PS/2 WHEEL -> SERIAL.
readonly -a kAsShipped=(
    cboScanTime=3 cboMaxPorts=4 "cboTypeRate=10.9" "cboTypeDelay=0.50" cboPort1Kb=2
    cboPort2Kb=1 cboPort3Kb=3 cboPort4Kb=1 cboVideoBlank=1 cboPort1Ms=SERIAL
    "cboPort2Ms=PS/2 WHEEL" "cboPort3Ms=PS/2" "cboPort4Ms=PS/2")
readonly -a kChanged=(cboScanTime=5 cboPort2Ms=SERIAL)

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# shellcheck disable=SC2317 # the helpers are called through wait_for and the trap
on_display() {
    local work="$1" shot="$2"
    log="$work/window.log"
    program=""
    cd "$work" || return 1

    cleanup() {
        [[ -n "$program" ]] && kill "$program" 2>/dev/null
        wait 2>/dev/null
    }
    trap cleanup EXIT
    alive() {
        kill -0 "$program" 2>/dev/null || { echo "rompush has ended" >&2; return 1; }
    }

    # open_dialog: CONFIGURE DEVICE, and the dialog's window in `dialog` once it can be used.
    open_dialog() {
        local started
        started="$(now)"
        press btnERASE || return 1
        wait_for "$kStepSeconds" "Configure Device shown" shows frmConfigDevice.Visible True ||
            return 1
        wait_for "$kStepSeconds" "Configure Device window" find_window '^Configure Device$' ||
            return 1
        dialog="$found"
        echo "dialog open after $(seconds_since "$started") s"
    }

    # expect_lists NAME=ENTRY...: the dialog's lists show these entries.
    expect_lists() {
        local pair bad=0
        for pair in "$@"; do
            shows "frmConfigDevice.${pair%%=*}.Text" "${pair#*=}" || {
                echo "${pair%%=*} shows \"$(shown "frmConfigDevice.${pair%%=*}.Text")\"," \
                    "expected \"${pair#*=}\"" >&2
                bad=1
            }
        done
        ((bad == 0)) || fail "the dialog does not show the device's settings"
    }

    # choose LIST DOWNS ENTRY: opens the list with a click, moves DOWNS entries down with the
    # keyboard and takes the entry with Return.
    choose() {
        local list="$1" downs="$2" entry="$3" keys=()
        click_control "$dialog" frmConfigDevice "$list" || return 1
        sleep 0.5
        for ((i = 0; i < downs; ++i)); do keys+=(Down); done
        xdotool key --delay 100 "${keys[@]}" Return
        wait_for 10 "$list showing $entry" shows "frmConfigDevice.$list.Text" "$entry"
    }

    # close_with BUTTON: the dialog's button, then the main window usable again.
    close_with() {
        click_control "$dialog" frmConfigDevice "$1" || return 1
        wait_for "$kStepSeconds" "dialog closed after $1" shows frmConfigDevice.Visible False ||
            return 1
        wait_for "$kStepSeconds" "CONFIGURE DEVICE usable again" \
            shows frmUI.btnERASE.Enabled True
    }

    wait_quietly 10 xdotool getdisplaygeometry >/dev/null || return 3
    ROMPUSH_WINDOW_LOG="$log" ./rompush --sim-ps2=orbit-mini >"$work/rompush.out" 2>&1 &
    program=$!
    start_window "$work/rompush.out" || return
    shows frmUI.cboPORT.Text "PS/2" || { fail "the port list shows $(shown frmUI.cboPORT.Text)"; return 1; }

    press btnSCAN || return 1
    wait_for "$kStepSeconds" "CONFIGURE DEVICE" shows frmUI.btnERASE.Caption "CONFIGURE DEVICE" ||
        return 1

    open_dialog || return 1
    expect_lists "${kAsShipped[@]}" || return 1
    choose cboScanTime 2 5 || return 1
    choose cboPort2Ms 1 SERIAL || return 1
    # The picture: the dialog with the two lists changed, the pointer off it.
    xdotool mousemove --window "$main" 0 0
    sleep 0.5
    import -window "$dialog" "$shot" 2>/dev/null || { fail "no picture of the dialog"; return 1; }
    # OK: the notice says the settings are being saved while they are written.
    local mark started
    mark="$(lines_logged)"
    started="$(now)"
    close_with btnOK || return 1
    shown_since "$mark" frmSaveConfig.Visible True ||
        { fail "no notice while saving"; return 1; }
    shows frmSaveConfig.lblConfigStatus.Caption "Saving configuration data..." ||
        { fail "the notice said \"$(shown frmSaveConfig.lblConfigStatus.Caption)\""; return 1; }
    echo "settings written; main window back after $(seconds_since "$started") s"

    # Read back from the device: the new entries, the rest as before.
    open_dialog || return 1
    local expected=("${kAsShipped[@]}") pair
    for pair in "${kChanged[@]}"; do
        expected=("${expected[@]/#${pair%%=*}=*/$pair}")
    done
    expect_lists "${expected[@]}" || return 1
    close_with btnCANCEL || return 1
    echo "settings read back: ${kChanged[*]}"
}

# Status: 0 all held, 3 the virtual display could not be reached, else a failure.
if [[ "${1:-}" == "--on-display" ]]; then
    on_display "$2" "$3"
    exit $?
fi

(($# == 2)) || { echo "usage: $0 BUILD-DIR OUTPUT.png" >&2; exit 2; }
prepare_run "$1" "$2" CONFIGURE_DEVICE_KEEP configure-device rompush tarn-logo.png
# The settings file remembers "PS/2" as the port, so it is chosen whatever COM ports the
# machine has.
printf 'ROMPUSH_INI_001\r\n1\r\nPS/2\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\n' >"$work/RomPush.INI"
run_on_display "$here/configure_device_gui.sh"
report_run window.log:60 rompush.out:20
