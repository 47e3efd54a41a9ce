#!/usr/bin/env bash
# RomPush installed like any desktop program: `cmake --install` into a temporary prefix and
# desktop-file-validate on its menu entry; then the installed rompush on a virtual X display,
# started outside the build with a home folder of its own. It must take its settings and port
# map from ~/.config/rompush (COM9, the installed rompush-devsim's pseudo-terminal, is the
# port) and write nothing beside itself, show the installed logo,
# open the about box from "Help|About" over the disabled main window, and from Help hand the
# installed Help_Tarn.html to xdg-open (a script here that notes what it is given). The about
# box is saved as a picture.   tests/gui/install_gui.sh BUILD-DIR OUTPUT.png
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=window_driver.sh
source "$here/window_driver.sh"
readonly kStepSeconds="${INSTALL_GUI_STEP_SECONDS:-60}"

# shellcheck disable=SC2317 # the helpers are called through wait_for and the trap
on_display() {
    local work="$1" prefix="$1/prefix" l t w h colours
    log="$work/window.log" program="" devsim=""
    # shellcheck disable=SC2086 # either may be empty
    trap 'kill $program $devsim 2>/dev/null; wait 2>/dev/null' EXIT
    alive() {
        kill -0 "$devsim" 2>/dev/null || { fail "rompush-devsim has ended"; return 1; }
        [[ -z "$program" ]] || kill -0 "$program" 2>/dev/null || fail "rompush has ended"
    }
    expect() { shows "$1" "$2" || fail "$1 is \"$(shown "$1")\", not \"$2\""; }
    # click_until FORM CONTROL WINDOW KEY VALUE: clicks until the window shows KEY = VALUE.
    click_until() {
        for _ in 1 2 3 4 5; do
            click_control "$3" "$1" "$2" && wait_quietly 3 shows "$4" "$5" && return 0
            alive || return 1
        done
        fail "$4 never became $5"
    }
    wait_quietly 10 xdotool getdisplaygeometry >/dev/null || return 3
    cd "$work/elsewhere" || return 1
    "$prefix/bin/rompush-devsim" --folder "$work/home/.config/rompush" --com 9 >"$work/devsim.out" 2>&1 &
    devsim=$!
    wait_for 30 "port map entry COM9" test -L "$work/home/.config/rompush/ports/COM9" || return 1
    HOME="$work/home" XDG_CONFIG_HOME="" PATH="$work/fakebin:$PATH" ROMPUSH_WINDOW_LOG="$log" \
        "$prefix/bin/rompush" >"$work/rompush.out" 2>&1 &
    program=$!
    start_window "$work/rompush.out" || return
    expect frmUI.cboPORT.Text "9" || return 1
    [[ -z "$(ls -A "$work/elsewhere")$(ls "$prefix/bin" | grep -v '^rompush')" ]] ||
        { fail "files written beside the program or in its working folder"; return 1; }
    # The logo's place in the window holds far more than a background colour.
    import -window "$main" "$work/main.png" 2>/dev/null
    read -r l t w h <<<"$(place_of frmUI picLogo)"
    colours="$(convert "$work/main.png" -crop "${w}x${h}+${l}+${t}" +repage -format %k info:)"
    ((colours > 20)) || { fail "no logo shown ($colours colours)"; return 1; }

    click_until frmUI btnTitleBar "$main" frmHelpAbout.Visible True || return 1
    wait_for "$kStepSeconds" "About window" find_window '^About RomPush Utility$' || return 1
    expect frmHelpAbout.lblVersion.Caption "Version  1.8G" && expect frmUI.Enabled False || return 1
    sleep 0.5
    import -window "$found" "$2" 2>/dev/null || { fail "no picture of the about box"; return 1; }
    click_until frmHelpAbout btnHelp "$found" frmHelpAbout.Visible False || return 1
    expect frmUI.Enabled True || return 1
    wait_for "$kStepSeconds" "the help opened" \
        grep -qxF "file://$prefix/share/rompush/Help_Tarn.html" "$work/opened.txt"
}

if [[ "${1:-}" == "--on-display" ]]; then
    on_display "$2" "$3"
    exit $?
fi
(($# == 2)) || { echo "usage: $0 BUILD-DIR OUTPUT.png" >&2; exit 2; }
prepare_run "$1" "$2" INSTALL_GUI_KEEP install rompush
cmake --install "$build" --prefix "$work/prefix" >"$work/install.out" 2>&1 &&
    desktop-file-validate "$work/prefix/share/applications/rompush.desktop" ||
    { cat "$work/install.out" >&2; echo "install: FAILED" >&2; exit 1; }
mkdir -p "$work/home/.config/rompush" "$work/fakebin" "$work/elsewhere"
printf 'ROMPUSH_INI_001\r\n9\r\nCom9\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\n' \
    >"$work/home/.config/rompush/RomPush.INI"
printf '#!/bin/sh\necho "$@" >>"%s/opened.txt"\n' "$work" >"$work/fakebin/xdg-open"
chmod +x "$work/fakebin/xdg-open"
run_on_display "$here/install_gui.sh"
report_run window.log:40 rompush.out:20 devsim.out:20
