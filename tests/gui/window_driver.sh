# Helpers for driving rompush through its real windows by the window log
# (ROMPUSH_WINDOW_LOG): waiting for what a window shows and clicking its controls where they
# really are. Sourced by the scripts of tests/gui; they set `log` (the window log) and define
# `alive` (false once a process of the run has ended).
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
