#!/usr/bin/env bash
# tests/gui/window_log_gui.sh BUILD-DIR OUTPUT.png: what the window log (ROMPUSH_WINDOW_LOG)
# tells a script about the real window, on a virtual X display against a simulated TWPx
# Receiver (rompush-devsim) on COM1. The port list's entries are logged; SCAN logs the status
# bar's device name, revision, boot loader and port panels; Get Last Used of a HEX file with
# bare LF line ends brings the message box that it will be converted, which is logged with its
# title, text and button as the dialog in front, answered with Return, and logged with its
# answer before the window is in front again. WINDOW_LOG_KEEP=1 keeps the work folder.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=window_driver.sh
source "$here/window_driver.sh"
readonly kStepSeconds=60

# ---- on the virtual display: drive the window. Arguments: work folder, picture path. ------
# shellcheck disable=SC2317 # the helpers are called through wait_for, press and the trap
on_display() {
    local work="$1" shot="$2" mark key value box
    begin_on_display "$work" || return 1
    logged_since() { shown_since "$mark" "$1" "$2"; }
    expect_shown() {
        shows "$1" "$2" || { fail "$1 shows \"$(shown "$1")\", expected \"$2\""; return 1; }
    }

    start_devsim_and_window --type 3 || return
    wait_for "$kStepSeconds" "the port list's entries" shows frmUI.cboPORT.List "1|PS/2" ||
        return 1
    expect_shown frmUI.cboPORT.Text 1 || return 1
    expect_shown Dialog "" || return 1

    mark="$(lines_logged)"
    press btnSCAN || return 1
    wait_for "$kStepSeconds" '"TARN Product Found"' logged_since frmUI.lblPASS.Caption \
        "TARN Product Found" || return 1
    for key in "Panel2=TWPx  Receiver" "Panel3=Rev D1.2A" "Panel4=BSL 1.0B" "Panel5=COM1"; do
        value="${key#*=}" key="frmUI.StatusBar1.${key%%=*}"
        wait_for 10 "$key = $value" shows "$key" "$value" || return 1
    done

    # The message box: logged whole, then as the dialog in front.
    mark="$(lines_logged)"
    press btnLASTUSED || return 1
    wait_for "$kStepSeconds" "the message box in front" logged_since Dialog "MsgBox: RomPush" ||
        return 1
    expect_shown MsgBox.Title RomPush || return 1
    [[ "$(shown MsgBox.Text)" == "'TWPx-Receiver-lf.hex' will be converted to DOS format.||( Orginal file will be copied to $work/TWPx-Receiver-lf.hex )" ]] ||
        { fail "the message box's text: $(shown MsgBox.Text)"; return 1; }
    expect_shown MsgBox.Icon Exclamation || return 1
    expect_shown MsgBox.Buttons OK || return 1
    expect_shown MsgBox.Default OK || return 1
    wait_for 10 "the message box's window" find_window '^RomPush$' || return 1
    box="$found"
    xdotool mousemove --window "$box" 0 0
    import -window "$box" "$shot" 2>/dev/null
    # Return, to the box given the keyboard, presses its default button.
    xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key Return
    wait_for 20 "the answer" logged_since MsgBox.Answer OK || return 1
    wait_for 10 "the main window in front again" logged_since Dialog "" || return 1
    wait_for "$kStepSeconds" '"HEX FILE OK"' logged_since frmUI.lblPASS.Caption "HEX FILE OK" ||
        return 1
    # The box's lines come before the line that puts it in front, its answer before the line
    # that takes it away.
    tail -n "+$((mark + 1))" "$log" | grep -E '^(MsgBox\.|Dialog = )' |
        awk '{ print $1 }' | tr '\n' ' ' | grep -qx \
        'MsgBox.Title MsgBox.Text MsgBox.Icon MsgBox.Buttons MsgBox.Default Dialog MsgBox.Answer Dialog ' ||
        { fail "the message box's lines out of order"; return 1; }
}

# Status: 0 all held, 3 the virtual display could not be reached, else a failure.
if [[ "${1:-}" == "--on-display" ]]; then
    on_display "$2" "$3"
    exit $?
fi

(($# == 2)) || { echo "usage: $0 BUILD-DIR OUTPUT.png" >&2; exit 2; }
prepare_run "$1" "$2" WINDOW_LOG_KEEP window-log rompush rompush-devsim tarn-logo.png
# The sample HEX file with bare LF line ends, remembered as the receiver's last used file.
hex="$work/HexFiles/TWPx-Receiver-lf.hex"
mkdir -p "$work/HexFiles"
tr -d '\r' <"$here/../../samples/TWPx-Receiver-sample.hex" >"$hex"
printf 'ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\nD %s\r\n' "$hex" \
    >"$work/RomPush.INI"
run_on_display "$here/window_log_gui.sh"
report_run window.log:40 rompush.out:20 devsim.out:20 devsim.err:20
