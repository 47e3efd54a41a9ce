# Helpers for driving rompush through its real windows by the window log
# (ROMPUSH_WINDOW_LOG): waiting for what a window shows and clicking its controls where they
# really are. Sourced by the scripts of tests/gui; they set `log` (the window log), or
# begin_on_display does, and may define an `alive` of their own (false once a process of the
# run has ended).
# shellcheck shell=bash

fail() {
    echo "FAILED: $*" >&2
    return 1
}

# wait_for SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_for() {
    local seconds="$1" what="$2"
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        alive || return 1
        ((SECONDS < deadline)) || { fail "no $what within $seconds s"; return 1; }
        sleep 0.1
    done
}

# wait_quietly SECONDS COMMAND...: as wait_for, without a message.
wait_quietly() {
    local seconds="$1"
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# What the window shows now for KEY (the last change logged).
shown() {
    awk -v key="$1 = " 'index($0, key) == 1 { value = substr($0, length(key) + 1) }
                        END { print value }' "$log" 2>/dev/null
}
shows() { [[ "$(shown "$1")" == "$2" ]]; }
lines_logged() { if [[ -f "$log" ]]; then wc -l <"$log"; else echo 0; fi; }
# True when KEY changed to VALUE after line FROM of the log.
shown_since() {
    tail -n "+$(($1 + 1))" "$log" 2>/dev/null | grep -qxF -- "$2 = $3"
}

# place_of FORM CONTROL: the control's place in its window, in pixels, "left top width
# height". Places are measured inside the control's container, so the containers' places are
# added.
place_of() {
    local form="$1" name="$2" left=0 top=0 width="" height="" l t w h
    while [[ -n "$name" ]]; do
        read -r l t w h <<<"$(shown "$form.$name.Place")"
        [[ -n "$h" ]] || return 1
        left=$((left + l))
        top=$((top + t))
        [[ -n "$width" ]] || { width=$w; height=$h; }
        name="$(shown "$form.$name.Container")"
    done
    echo "$((left / 15)) $((top / 15)) $((width / 15)) $((height / 15))"
}

# click_control WINDOW FORM CONTROL: a click in the middle of the control.
click_control() {
    local l t w h
    read -r l t w h <<<"$(place_of "$2" "$3")" || true
    [[ -n "${h:-}" ]] || { fail "no place logged for $2.$3"; return 1; }
    xdotool mousemove --window "$1" $((l + w / 2)) $((t + h / 2)) click 1
}

# find_window TITLE-REGEX: the id of the visible window whose title matches, in `found`.
find_window() {
    found="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)"
    [[ -n "$found" ]]
}

# press BUTTON: a click on a button of the main window ($main) until the program takes it
# (every command begins by disabling the buttons; a click that shows no such sign within
# 3 s was dropped and is made again). The sign is looked for from the first click on, so a
# slow answer to one click never brings a second command. Waits up to $kStepSeconds for
# the button to be enabled.
press() {
    local name="$1" attempt from
    wait_for "$kStepSeconds" "$name enabled" shows "frmUI.$name.Enabled" True || return 1
    from="$(lines_logged)"
    for attempt in 1 2 3 4 5; do
        click_control "$main" frmUI "$name" || return 1
        if wait_quietly 3 shown_since "$from" "frmUI.$name.Enabled" False; then
            ((attempt == 1)) || echo "$name: click $attempt taken"
            return 0
        fi
        alive || return 1
        echo "$name: click $attempt not taken; clicking again"
    done
    fail "the program took none of 5 clicks on $name"
}

# start_window LOG-FILE: waits for the virtual display and for rompush's main window (its id
# in `main`) once the caller has started rompush as $program. Status 3 when the display went
# away under rompush (not the program's fault: the run is made again).
start_window() {
    wait_for "$kStepSeconds" "RomPush window" find_window '^RomPush' || {
        grep -q "could not connect to display" "$1" 2>/dev/null && return 3
        return 1
    }
    main="$found"
    # Start-up has ended when SCAN can be pressed.
    wait_for "$kStepSeconds" "SCAN enabled" shows frmUI.btnSCAN.Enabled True
}

# begin_on_display WORK: the start of a run on the virtual display: into the work folder,
# `log` its window log, no rompush-devsim (`devsim`) or rompush (`program`, window `main`)
# yet; whichever of them runs is ended with the script.
begin_on_display() {
    log="$1/window.log" devsim="" program="" main=""
    cd "$1" || return 1
    # shellcheck disable=SC2086 # either may be empty
    trap 'kill $program $devsim 2>/dev/null; wait 2>/dev/null' EXIT
}

# alive: false, with a word why, once rompush-devsim or rompush has ended.
alive() {
    kill -0 "$devsim" 2>/dev/null || { echo "rompush-devsim has ended" >&2; return 1; }
    [[ -z "$program" ]] || kill -0 "$program" 2>/dev/null ||
        { echo "rompush has ended" >&2; return 1; }
}

# start_devsim_and_window DEVSIM-ARGUMENT...: once the virtual display answers, starts
# ./rompush-devsim on COM1 of the work folder with the arguments given (its output in
# devsim.out and devsim.err), waits for its port, then starts ./rompush with the window log
# and waits for its window (see start_window). Status 3 when the display could not be
# reached.
start_devsim_and_window() {
    wait_quietly 10 xdotool getdisplaygeometry >/dev/null || return 3
    ./rompush-devsim --folder "$PWD" --com 1 "$@" >devsim.out 2>devsim.err &
    devsim=$!
    wait_for "$kStepSeconds" "port map entry ports/COM1" test -L ports/COM1 || return 1
    ROMPUSH_WINDOW_LOG="$log" ./rompush >rompush.out 2>&1 &
    program=$!
    start_window rompush.out
}

# prepare_run BUILD-DIR OUTPUT KEEP-VARIABLE NAME FILE...: checks the build has FILE... and
# the tools are there, makes the work folder (`work`, removed at the end unless KEEP-VARIABLE
# is set), copies FILE... into it and sets `build` and `out`. Exits 2 when something is
# missing.
prepare_run() {
    build="$(cd "$1" && pwd)" || exit 2
    out="$2"
    [[ "$out" == /* ]] || out="$PWD/$out"
    keep_variable="$3" run_name="$4"
    shift 4
    local file tool
    for file in "$@"; do
        [[ -f "$build/$file" ]] ||
            { echo "no $file in $build: build with -DROMPUSH_GUI=ON" >&2; exit 2; }
    done
    for tool in xvfb-run xdotool import convert python3 awk; do
        command -v "$tool" >/dev/null ||
            { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 2; }
    done
    work="$(mktemp -d "${TMPDIR:-/tmp}/rompush-$run_name.XXXXXX")"
    trap 'if [[ -n "${!keep_variable:-}" ]]; then echo "work folder kept: $work";
          else rm -rf "$work"; fi' EXIT
    for file in "$@"; do cp "$build/$file" "$work/"; done
    mkdir -p "$(dirname "$out")"
    rm -f "$out"
}

# run_on_display SCRIPT: SCRIPT --on-display WORK PICTURE under Xvfb, up to three times
# while the display could not be reached (status 3); the picture is copied to $out. xvfb-run
# keeps its display's key in the work folder; two xvfb-run -a started at the same moment
# elsewhere on the machine can pick the same display number. Sets `status`.
run_on_display() {
    local attempt
    for attempt in 1 2 3; do
        rm -rf "$work/ports" "$work/window.log" "$work/flash.bin" "$work/$run_name.png"
        TMPDIR="$work" xvfb-run -a -s "-screen 0 640x480x24" \
            bash "$1" --on-display "$work" "$work/$run_name.png"
        status=$?
        ((status == 3)) || break
        echo "no virtual display reached (attempt $attempt)" >&2
        sleep 1
    done
    if [[ -f "$work/$run_name.png" ]]; then
        cp "$work/$run_name.png" "$out"
        echo "picture: $out"
    fi
}

# report_run FILE:LINES...: on a failure ($status not 0) the last lines of each log; the
# script's verdict either way.
report_run() {
    local f
    if ((status != 0)); then
        for f in "$@"; do
            echo "---- ${f%:*} (last ${f#*:} lines)" >&2
            tail -n "${f#*:}" "$work/${f%:*}" >&2 2>/dev/null
        done
        echo "$run_name through the window: FAILED" >&2
        exit 1
    fi
    echo "$run_name through the window: passed"
}
