#!/usr/bin/env bash
# The main window lost from outside while SCAN holds the keyboard controller: rompush on a
# virtual X display with a simulated Orbit Tiny behind "PS/2" (--sim-ps2=orbit-tiny). Twice:
# once its window is destroyed by another X client (XDestroyWindow), once its X connection is
# cut (xdotool windowkill, as the X server ending would cut it). Each time the program must end
# within seconds and give the controller back first: the simulated controller's command byte,
# which the window log records, is 0x47 again. The picture is the window while SCAN holds
# the controller, just before it is destroyed.
#
#   tests/gui/window_lost_gui.sh BUILD-DIR OUTPUT.png
#
# Exit 0 only when both held. Set WINDOW_LOST_KEEP=1 to keep the work folder.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=window_driver.sh
source "$here/window_driver.sh"

readonly kStepSeconds="${WINDOW_LOST_STEP_SECONDS:-120}"
# How long the program may take to end once its window is gone.
readonly kEndSeconds=20

# destroy_window ID: another X client destroys the window.
destroy_window() {
    python3 - "$1" <<'PY'
import ctypes, sys
x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
display = ctypes.c_void_p(x11.XOpenDisplay(None))
if not display:
    sys.exit("no display")
x11.XDestroyWindow(display, ctypes.c_ulong(int(sys.argv[1])))
x11.XSync(display, 0)
x11.XCloseDisplay(display)
PY
}

# shellcheck disable=SC2317 # the helpers are called through wait_for and the trap
on_display() {
    local work="$1" shot="$2" how
    program=""
    cd "$work" || return 1
    trap '[[ -n "$program" ]] && kill "$program" 2>/dev/null; wait 2>/dev/null' EXIT
    alive() {
        kill -0 "$program" 2>/dev/null || { echo "rompush has ended" >&2; return 1; }
    }
    ended() { ! kill -0 "$program" 2>/dev/null; }

    wait_quietly 10 xdotool getdisplaygeometry >/dev/null || return 3
    for how in destroyed killed; do
        log="$work/window-$how.log"
        ROMPUSH_WINDOW_LOG="$log" ./rompush --sim-ps2=orbit-tiny >"$work/rompush-$how.out" 2>&1 &
        program=$!
        start_window "$work/rompush-$how.out" || return
        shows frmUI.cboPORT.Text "PS/2" ||
            { fail "the port list shows $(shown frmUI.cboPORT.Text)"; return 1; }
        press btnSCAN || return 1
        # Identification takes the controller with command byte 0x60 (interrupts off).
        wait_for "$kStepSeconds" "controller taken" shows Keyboard.CommandByte 60 || return 1
        shows Keyboard.ControllerHeld True || { fail "the controller is not held"; return 1; }
        if [[ "$how" == destroyed ]]; then
            import -window "$main" "$shot" 2>/dev/null || echo "no picture of the window" >&2
            destroy_window "$main" || { fail "the window could not be destroyed"; return 1; }
        else
            xdotool windowkill "$main" || { fail "xdotool windowkill failed"; return 1; }
        fi
        wait_quietly "$kEndSeconds" ended ||
            { fail "window $how: rompush still runs after $kEndSeconds s"; return 1; }
        wait "$program" 2>/dev/null
        program=""
        shows Keyboard.CommandByte 47 ||
            { fail "window $how: command byte $(shown Keyboard.CommandByte) at the end"; return 1; }
        shows Keyboard.ControllerHeld False ||
            { fail "window $how: the controller is still held"; return 1; }
        echo "window $how: rompush ended and gave the controller back"
    done
}

# Status: 0 all held, 3 the virtual display could not be reached, else a failure.
if [[ "${1:-}" == "--on-display" ]]; then
    on_display "$2" "$3"
    exit $?
fi

(($# == 2)) || { echo "usage: $0 BUILD-DIR OUTPUT.png" >&2; exit 2; }
prepare_run "$1" "$2" WINDOW_LOST_KEEP window-lost rompush tarn-logo.png
# The settings file remembers "PS/2" as the port, so it is chosen whatever COM ports the
# machine has.
printf 'ROMPUSH_INI_001\r\n1\r\nPS/2\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\n' >"$work/RomPush.INI"
run_on_display "$here/window_lost_gui.sh"
report_run window-destroyed.log:30 rompush-destroyed.out:20 window-killed.log:30 rompush-killed.out:20
