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
# Seconds: start-up, SCAN and the file check take a few; PROGRAM erases and writes 256 pages
# and reads them all back; a click shows (the buttons disabled) within kTaken or was dropped.
readonly kStep=60 kProgram=180 kTaken=3
readonly kGreen="0,192,0" # the banner's colour for a good result (&H00C000)


# ---- on the virtual display: drive the window. Arguments: work folder, picture path. ------
# shellcheck disable=SC2317 # the helpers are called through wait_for, press and the trap
on_display() {
    local work="$1" shot="$2" started begun mark status
    log="$work/window.log" devsim="" program="" window=""
    cd "$work" || return 1
    # shellcheck disable=SC2086 # either may be empty
    trap 'kill $program $devsim 2>/dev/null; wait 2>/dev/null' EXIT
    fail() { echo "FAILED: $*" >&2; return 1; }
    alive() {
        kill -0 "$devsim" 2>/dev/null || { echo "rompush-devsim has ended" >&2; return 1; }
        [[ -z "$program" ]] || kill -0 "$program" 2>/dev/null ||
            { echo "rompush has ended" >&2; return 1; }
    }
    # quietly SECONDS COMMAND...: polls COMMAND until it succeeds; false after SECONDS.
    quietly() {
        local deadline=$((SECONDS + $1))
        shift
        until "$@"; do
            ((SECONDS < deadline)) || return 1
            sleep 0.1
        done
    }
    # wait_for SECONDS WHAT COMMAND...: the same while both programs run; a miss fails the run.
    wait_for() {
        local seconds="$1" what="$2" deadline=$((SECONDS + $1))
        shift 2
        until "$@"; do
            alive || return 1
            ((SECONDS < deadline)) || { fail "no $what within $seconds s"; return 1; }
            sleep 0.1
        done
    }

    # What the window shows for KEY (its last change logged); KEY changed to VALUE after line FROM.
    shown() {
        awk -v key="$1 = " 'index($0, key) == 1 { value = substr($0, length(key) + 1) }
                            END { print value }' "$log" 2>/dev/null
    }
    shows() { [[ "$(shown "$1")" == "$2" ]]; }
    lines_logged() { if [[ -f "$log" ]]; then wc -l <"$log"; else echo 0; fi; }
    shown_since() { tail -n "+$(($1 + 1))" "$log" 2>/dev/null | grep -qxF -- "$2 = $3"; }

    # The control's place in the window, in pixels: "left top width height". Places are
    # measured inside the control's container, so the containers' places are added.
    place_of() {
        local name="$1" left=0 top=0 width="" height="" l t w h
        while [[ -n "$name" ]]; do
            read -r l t w h <<<"$(shown "frmUI.$name.Place")"
            [[ -n "$h" ]] || return 1
            left=$((left + l)) top=$((top + t))
            [[ -n "$width" ]] || { width=$w height=$h; }
            name="$(shown "frmUI.$name.Container")"
        done
        echo "$((left / 15)) $((top / 15)) $((width / 15)) $((height / 15))"
    }

    # press NAME: clicks the button until the program takes the click (every command begins by
    # disabling the buttons). A command that enables its buttons and then pauses clears a command
    # posted meanwhile, as for an operator; the sign is looked for from the first click on, so a
    # slow answer to one click never brings a second command.
    press() {
        local name="$1" attempt from l t w h
        wait_for "$kStep" "$name enabled" shows "frmUI.$name.Enabled" True || return 1
        from="$(lines_logged)"
        for attempt in 1 2 3 4 5; do
            read -r l t w h <<<"$(place_of "$name")" || true
            [[ -n "${h:-}" ]] || { fail "no place logged for $name"; return 1; }
            xdotool mousemove --window "$window" $((l + w / 2)) $((t + h / 2)) click 1
            if quietly "$kTaken" shown_since "$from" "frmUI.$name.Enabled" False; then
                ((attempt == 1)) || echo "$name: click $attempt taken"
                return 0
            fi
            alive || return 1
            echo "$name: click $attempt not taken; clicking again"
        done
        fail "the program took none of 5 clicks on $name"
    }
    # step NAME BUTTON BANNER NEXT: presses BUTTON, waits for BANNER and a usable NEXT button.
    step() {
        begun=$SECONDS mark="$(lines_logged)"
        press "$2" || return 1
        wait_for "$kStep" "\"$3\" after $1" shown_since "$mark" frmUI.lblPASS.Caption "$3" ||
            return 1
        wait_for "$kStep" "$4 enabled" shows "frmUI.$4.Enabled" True || return 1
        echo "$1: $((SECONDS - begun)) s"
    }
    find_window() {
        window="$(xdotool search --onlyvisible --name '^RomPush' 2>/dev/null | head -n1)"
        [[ -n "$window" ]]
    }
    # The colour most of the banner's pixels have in the picture, as "r,g,b".
    banner_colour() {
        local l t w h
        read -r l t w h <<<"$(place_of lblPASS)"
        convert "$shot" -crop "${w}x${h}+${l}+${t}" +repage -depth 8 -format %c histogram:info:- \
            2>/dev/null | sort -rn | head -n1 |
            sed -nE 's/^ *[0-9]+: *\( *([0-9]+), *([0-9]+), *([0-9]+).*/\1,\2,\3/p'
    }
    green_in_picture() {
        import -window "$window" "$shot" 2>/dev/null && [[ "$(banner_colour)" == "$kGreen" ]]
    }
    # The run ends with the good banner or with an error code; a page whose CRC differed
    # after writing only shows a message and the run goes on, so that one fails it too.
    banners_since() { tail -n "+$((mark + 1))" "$log" | grep -E '^frmUI\.lblPASS\.Caption = '; }
    program_ended() { banners_since | grep -qE ' = (Program and Verify OK|ERROR)'; }
    devsim_ended() { ! kill -0 "$devsim" 2>/dev/null; }

    started=$SECONDS
    quietly 10 xdotool getdisplaygeometry >/dev/null || return 3
    ./rompush-devsim --folder "$work" --com 1 --type 3 --flash-out "$work/flash.bin" \
        >"$work/devsim.out" 2>"$work/devsim.err" &
    devsim=$!
    wait_for "$kStep" "port map entry ports/COM1" test -L "$work/ports/COM1" || return 1
    ROMPUSH_WINDOW_LOG="$log" ./rompush >"$work/rompush.out" 2>&1 &
    program=$!
    # The display went away under rompush: not the program's fault, the run is made again.
    wait_for "$kStep" "RomPush window" find_window ||
        { grep -q "could not connect to display" rompush.out && return 3; return 1; }
    # Start-up has ended when SCAN can be pressed.
    wait_for "$kStep" "SCAN enabled" shows frmUI.btnSCAN.Enabled True || return 1
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
    xdotool mousemove --window "$window" 0 0
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
    quietly 20 devsim_ended || { fail "rompush-devsim did not end"; return 1; }
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
build="$(cd "$1" && pwd)" || exit 2
out="$2"
[[ "$out" == /* ]] || out="$PWD/$out"
for file in rompush rompush-devsim tarn-logo.png; do
    [[ -f "$build/$file" ]] || { echo "no $file in $build: build with -DROMPUSH_GUI=ON" >&2; exit 2; }
done
for tool in xvfb-run xdotool import convert python3 awk; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/rompush-program-verify.XXXXXX")"
finish() {
    if [[ -n "${PROGRAM_VERIFY_KEEP:-}" ]]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap finish EXIT

# The program folder: the programs, the logo, the HEX file and a settings file whose entry for
# letter "D" names that file, so Get Last Used finds it.
cp "$build/rompush" "$build/rompush-devsim" "$build/tarn-logo.png" "$work/"
hex="$work/TWPx-Receiver-sample.hex"
cp "$here/../../samples/TWPx-Receiver-sample.hex" "$hex"
printf 'ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\nD %s\r\n' "$hex" \
    >"$work/RomPush.INI"
mkdir -p "$(dirname "$out")"
rm -f "$out"

# xvfb-run keeps its display's key in a folder of its own, made here beside the run's files.
# Two xvfb-run -a started at the same moment elsewhere on the machine can pick the same display
# number; a run that could not reach its display says so (status 3) and is made again.
for attempt in 1 2 3; do
    rm -rf "$work/ports" "$work/window.log" "$work/flash.bin" "$work/program-verify.png"
    TMPDIR="$work" xvfb-run -a -s "-screen 0 640x480x24" \
        bash "$here/program_verify_gui.sh" --on-display "$work" "$work/program-verify.png"
    status=$?
    ((status == 3)) || break
    echo "no virtual display reached (attempt $attempt)" >&2
    sleep 1
done
if ((status == 0)); then
    python3 "$here/flash_matches_hex.py" "$hex" "$work/flash.bin"
    status=$?
fi
if [[ -f "$work/program-verify.png" ]]; then
    cp "$work/program-verify.png" "$out"
    echo "picture: $out"
fi
if ((status != 0)); then
    for f in window.log:40 rompush.out:20 devsim.out:40 devsim.err:40; do
        echo "---- ${f%:*} (last ${f#*:} lines)" >&2
        tail -n "${f#*:}" "$work/${f%:*}" >&2 2>/dev/null
    done
    echo "program and verify through the window: FAILED" >&2
    exit 1
fi
echo "program and verify through the window: passed"
