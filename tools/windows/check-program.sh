#!/usr/bin/env bash
# The Windows program and its test suite under Debian's Wine, on an X server of their own:
#   check-program.sh PROGRAM.exe TESTS_DIR FAILING_DXGI.dll
# The program is driven as a user would: its window (titled as the build's facts say) appears at
# its fixed size, a second launch exits with 0 and leaves one window, a click on the drawn close button ends
# it with exit code 0; where the display adapters cannot be listed (a dxgi.dll that cannot make its
# factory), it says so in a message box and ends with 0 instead of crashing. Then cantora_tests.exe
# runs whole, and cantora_app_tests.exe once per test.
# Every process it starts ends by its id on every path, and the Wine prefix goes with the run.
set -uo pipefail
# shellcheck source=tools/lib/wine.sh
source "$(dirname "$0")/../lib/wine.sh"

program=$1
tests=$2
failing_dxgi=$3

pid=""
failed=0
log=$(mktemp)

trap 'wine_check_cleanup "$log"' EXIT

failure_logs=("40:$log:what the program printed")

start=$(now_ms)
wine_prefix_make
echo "Wine prefix made in $(( $(now_ms) - start )) ms"

# Starts the program; sets pid and window. Wine's first start in a new prefix can crash once inside the
# framework: that is tried once more, and said.
start_under_wine() {
    for attempt in 1 2; do
        start=$(now_ms)
        wine "$program" > "$log" 2>&1 &
        pid=$!
        wait_until 30 bash -c "! kill -0 $pid 2> /dev/null || xdotool search --onlyvisible --name '^${title}\$' > /dev/null 2>&1"
        if kill -0 "$pid" 2> /dev/null; then
            shown_ms=$(( $(now_ms) - start ))
            # Wine replaces the first X window that carries the title: look it up again.
            sleep 0.3
            wait_until 10 program_window_shown || fail "no window titled '$title'"
            return 0
        fi
        wait "$pid"
        echo "note: the program ended with $? before its window showed (attempt $attempt)"
        pid=""
    done
    fail "the program did not start"
}

start_under_wine
geometry=$(xdotool getwindowgeometry "$window" | awk '/Geometry/ { print $2 }')
echo "window shown after $shown_ms ms, $geometry"
[ "$geometry" = "$CANTORA_WINDOW_SIZE" ] || fail "the window is $geometry, not $CANTORA_WINDOW_SIZE"

start=$(now_ms)
timeout 30 wine "$program" --second > /dev/null 2>&1
second=$?
echo "second launch ended with $second after $(( $(now_ms) - start )) ms"
[ "$second" -eq 0 ] || fail "the second launch exited with $second"
wait_until 5 one_window || fail "$(count_windows) windows after the second launch"

# The close button the program draws at the right of its own 26-pixel title bar.
click_at "$CANTORA_CLOSE_BUTTON"
start=$(now_ms)
wait_until 10 program_ended || fail "still running 10 s after the click on the close button"
wait "$pid"; status=$?
pid=""
echo "ended $(( $(now_ms) - start )) ms after the click, exit code $status"
[ "$status" -eq 0 ] || fail "exit code $status"

# A display whose adapters cannot be listed: a message, not a crash.
copy=$(mktemp -d)
cp "$program" "$failing_dxgi" "$copy/"
start=$(now_ms)
WINEDLLOVERRIDES=dxgi=n wine "$copy/$(basename "$program")" > "$log" 2>&1 &
pid=$!
message_shown() { xdotool search --onlyvisible --name "^$CANTORA_PRODUCT_NAME\$" > /dev/null 2>&1; }
wait_until 30 message_shown || fail "no message box where the display adapters cannot be listed"
xdotool key Return
wait_until 10 program_ended || fail "still running after its message was answered"
wait "$pid"; status=$?
pid=""
rm -rf "$copy"
echo "no display adapters: a message box, then exit code $status after $(( $(now_ms) - start )) ms"
[ "$status" -eq 0 ] || fail "exit code $status where the display adapters cannot be listed"

# The test suite, on the in-memory ports, with the framework's Windows message loop, locks, threads
# and windows.
start=$(now_ms)
timeout 900 wine "$tests/cantora_tests.exe" --gtest_brief=1 > "$log" 2>&1
result=$?
grep -E "^\[  (PASSED|FAILED)|tests? ran" "$log"
echo "cantora_tests.exe: exit $result after $(( $(now_ms) - start )) ms"
[ "$result" -eq 0 ] || fail "the test suite failed under Wine"

for test in $(timeout 120 wine "$tests/cantora_app_tests.exe" --gtest_list_tests 2> /dev/null | tr -d '\r' \
              | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }'); do
    timeout 120 wine "$tests/cantora_app_tests.exe" --gtest_filter="$test" > "$log" 2>&1 || fail "$test failed under Wine"
    echo "cantora_app_tests.exe $test: passed"
done

echo "PASS: the Windows program and its tests under Wine"
