#!/usr/bin/env bash
# Tests of the real program as a user meets it, on the X display of the test run.
#   real_program_test.sh PROGRAM CASE
# Cases: starts, second-launch, close-button, window-manager-close, border-drag.
set -uo pipefail

program=$1
case_name=$2

# Each case gets an X server of its own: other tests open windows with the same title, and the
# pointer and keys used here must reach this program alone.
if [ -z "${CANTORA_OWN_X_SERVER:-}" ]; then
    exec env CANTORA_OWN_X_SERVER=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
title="Cantora 2 - version 1.0.02 B37"
# How long the program may take to end after a close request: one second, longer for sanitizer builds,
# whose exit runs the sanitizer's own checks.
exit_bound=${CANTORA_EXIT_BOUND_S:-1}
pid=""
failed=0

program_log=$(mktemp)

fail() { echo "FAIL: $*"; failed=1; }

cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    wait 2>/dev/null
    if [ "$failed" -ne 0 ] && [ -s "$program_log" ]; then
        echo "--- what the program printed:"; tail -n 60 "$program_log"
    fi
    rm -f "$program_log"
}
trap cleanup EXIT

# Starts the program and waits (at most 10 s) for its window; sets pid and window.
start_program() {
    "$program" "$@" > "$program_log" 2>&1 &
    pid=$!
    # Asked again and again: a search can fail outright when a window goes while it walks the tree.
    window=""
    for _ in $(seq 200); do
        window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1)
        [ -n "$window" ] && break
        sleep 0.05
    done
    [ -n "$window" ] || { fail "no window titled '$title' within 10 s"; exit 1; }
}

# Waits at most $1 seconds for the program to end; sets status to its exit code, or fails.
wait_for_exit() {
    local deadline=$(( $(date +%s%N) + $1 * 1000000000 ))
    while kill -0 "$pid" 2>/dev/null; do
        [ "$(date +%s%N)" -lt "$deadline" ] || { fail "still running after $1 s"; return 1; }
        sleep 0.02
    done
    wait "$pid"; status=$?
    pid=""
}

geometry() { xdotool getwindowgeometry "$window" | awk '/Geometry/ { print $2 }'; }
position() { xdotool getwindowgeometry "$window" | awk '/Position/ { print $2 }'; }
count_windows() { xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | wc -l; }

# Waits at most 2 s for exactly $1 windows with the title; fails naming how many there were.
expect_windows() {
    local n
    for _ in $(seq 100); do
        n=$(count_windows)
        [ "$n" -eq "$1" ] && return 0
        sleep 0.02
    done
    fail "$n windows titled '$title', not $1"
}

case "$case_name" in
    starts)
        start_program --some --arguments "with spaces"
        [ "$(geometry)" = "650x400" ] || fail "window is $(geometry), not 650x400"
        screen=$(xdpyinfo | awk '/dimensions:/ { print $2 }')
        sw=${screen%x*}; sh=${screen#*x}
        pos=$(position); x=${pos%,*}; y=${pos#*,}
        [ $(( x + 325 - sw / 2 )) -ge -2 ] && [ $(( x + 325 - sw / 2 )) -le 2 ] || fail "not centred across: x $x on $sw"
        [ $(( y + 200 - sh / 2 )) -ge -2 ] && [ $(( y + 200 - sh / 2 )) -le 2 ] || fail "not centred down: y $y on $sh"
        ;;

    second-launch)
        start_program
        start=$(date +%s%N)
        timeout 10 "$program" --second > /dev/null 2>&1
        second=$?
        elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
        [ "$second" -eq 0 ] || fail "the second launch exited with $second"
        [ "$elapsed_ms" -lt 5000 ] || fail "the second launch took $elapsed_ms ms"
        expect_windows 1
        kill -0 "$pid" 2>/dev/null || fail "the first copy ended"
        echo "second launch ended with 0 after $elapsed_ms ms"
        ;;

    close-button)
        start_program
        sleep 1
        # The close button the program draws at the right of its own 26-pixel title bar.
        xdotool mousemove --window "$window" 632 15 click 1
        start=$(date +%s%N)
        wait_for_exit "$exit_bound" && [ "$status" -eq 0 ] || fail "exit code ${status:-none}"
        echo "ended $(( ($(date +%s%N) - start) / 1000000 )) ms after the click"
        ;;

    window-manager-close)
        # A window manager delivers the close request (alt+F4 is its close binding).
        openbox > /dev/null 2>&1 &
        wm=$!
        sleep 1
        start_program
        sleep 1
        # The key goes to the focused window: wait until that is the program's.
        for _ in $(seq 100); do
            xdotool windowactivate "$window" 2> /dev/null || xdotool windowfocus "$window" 2> /dev/null
            [ "$(xdotool getwindowfocus 2> /dev/null)" = "$window" ] && break
            sleep 0.05
        done
        [ "$(xdotool getwindowfocus 2> /dev/null)" = "$window" ] || fail "the window never got the focus"
        xdotool key --clearmodifiers alt+F4
        start=$(date +%s%N)
        wait_for_exit "$exit_bound" && [ "$status" -eq 0 ] || fail "exit code ${status:-none}"
        echo "ended $(( ($(date +%s%N) - start) / 1000000 )) ms after alt+F4"
        kill "$wm" 2>/dev/null
        ;;

    border-drag)
        start_program
        sleep 0.5
        # Drag the bottom-right border outwards, then the left border inwards.
        xdotool mousemove --window "$window" 648 398 mousedown 1 mousemove_relative --sync 120 90 mouseup 1
        sleep 0.3
        [ "$(geometry)" = "650x400" ] || fail "a drag outwards made it $(geometry)"
        xdotool mousemove --window "$window" 1 200 mousedown 1 mousemove_relative --sync 100 0 mouseup 1
        sleep 0.3
        [ "$(geometry)" = "650x400" ] || fail "a drag inwards made it $(geometry)"
        ;;

    *)
        echo "unknown case $case_name"; exit 2 ;;
esac

[ "$failed" -eq 0 ] && echo "PASS: $case_name"
exit "$failed"
