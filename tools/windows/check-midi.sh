#!/usr/bin/env bash
# The Windows program's own MIDI port under Wine, against a scripted MIDI output driver of the
# project's (scripted_midi_driver.c), on an X server of its own:
#   check-midi.sh PROGRAM.exe DRIVER.drv REDRAW.exe IMAGE.syx
# Each case starts the program with the driver told what to do, picks the driver's port and presses
# update with the pointer and keys, as a user would, and passes only on its outcome: read from the
# driver's log and captures (one per device: A, B), the program's exit, and the caption under the bar
# (read from a screenshot taken after the window has been made to paint itself). Prints a table of the
# figures.
set -uo pipefail
# shellcheck source=tools/lib/wine.sh
source "$(dirname "$0")/../lib/wine.sh"

program=$1
driver=$2
redraw=$3
image=$4

work=$(mktemp -d)
pid=""
failed=0
results=()

trap 'wine_check_cleanup "$work"' EXIT

failure_logs=("15:$work/driver.log:the driver's log" "20:$work/program.log:what the program printed")
logged() { grep -q -- "$1" "$work/driver.log" 2> /dev/null; }
count_logged() { local n; n=$(grep -c -- "$1" "$work/driver.log" 2> /dev/null); echo "${n:-0}"; }
messages=$(tr -dc '\367' < "$image" | wc -c)
size=$(stat -c %s "$image")

# The driver in the prefix's system folder, named in the registry.
wine_prefix_make
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d cantoramidi /f > /dev/null 2>&1
wineserver -w
cp "$driver" "$WINEPREFIX/drive_c/windows/system32/winecantoramidi.drv"

# Starts the program with the driver's settings given as NAME=VALUE; sets pid and window.
start_with_driver() {
    rm -rf "$work/driver.log" "$work/capture"
    mkdir "$work/capture"
    env CANTORA_MIDI_LOG="$(winepath -w "$work/driver.log" 2> /dev/null)" \
        CANTORA_MIDI_CAPTURE="$(winepath -w "$work/capture" 2> /dev/null)" \
        CANTORA_MIDI_MESSAGES="$messages" "$@" wine "$program" > "$work/program.log" 2>&1 &
    pid=$!
    wait_until 30 program_window_shown || fail "no window titled '$title'"
    # Wine replaces the first X window that carries the title: look it up again.
    sleep 0.3
    wait_until 10 program_window_shown || fail "no window titled '$title'"
}

# STEP1 and STEP2 as a user does them: the port box (a click opens its list, where the driver's ports
# follow "(Disconnected)"; the first is device A's when listed), then the update button.
choose_first_port() {
    click_at "$CANTORA_PORT_BOX"
    sleep 0.5
    xdotool key Down Return
}
pick_port() {
    local opens
    opens=$(count_logged "MODM_OPEN flags")
    choose_first_port
    opened() { [ "$(count_logged "MODM_OPEN flags")" -gt "$opens" ]; }
    wait_until 10 opened || fail "picking the port reached no open"
}
press_update() { click_at "$CANTORA_UPDATE_BUTTON"; }
# Starts the program with the driver's settings given, picks the port and presses update.
start_update() { start_with_driver "$@"; pick_port; press_update; }
# The letter of the device the last open reached.
last_opened() { grep "MODM_OPEN flags" "$work/driver.log" | tail -n 1 | cut -d' ' -f2; }

# A pick that must open nothing. Refused, the program lists the ports afresh: it has then asked for
# device 0's capabilities twice since the click (once looking for the device, once listing).
pick_refused() {
    local opens lists
    opens=$(count_logged "MODM_OPEN flags")
    lists=$(count_logged "MODM_GETDEVCAPS 0")
    choose_first_port
    decided() {
        [ "$(count_logged "MODM_GETDEVCAPS 0")" -ge $(( lists + 2 )) ] ||
            [ "$(count_logged "MODM_OPEN flags")" -gt "$opens" ]
    }
    wait_until 10 decided || fail "the pick was neither refused nor opened"
    [ "$(count_logged "MODM_OPEN flags")" -eq "$opens" ] || fail "the pick opened device $(last_opened)"
}

# The caption above the bar, read from a screenshot once the window has painted its current state.
# $1: the area's size and its place in the window ("WxH+X+Y").
read_screen() {
    wine "$redraw" "$title" > /dev/null 2>&1
    local x y w h dx dy
    eval "$(xdotool getwindowgeometry --shell "$window" 2> /dev/null | grep -E '^(X|Y)=')"
    x=$X; y=$Y
    IFS='x+' read -r w h dx dy <<< "$1"
    import -window root -crop "${w}x${h}+$(( x + dx ))+$(( y + dy ))" png:- 2> /dev/null \
        | convert - -scale 300% -colorspace Gray png:- | tesseract stdin stdout 2> /dev/null | tr '\n' ' '
}
caption() { read_screen "530x30+12+213"; }
# The name the port box shows, inside its border and left of its arrow.
port_shown() { read_screen "570x26+18+157" | sed 's/[[:space:]]*$//'; }
# The guidance line under the bar: the screen's row at (10, 255), inside the border and below the title bar.
guidance_shown() { read_screen "622x30+14+281"; }
shows() { caption | grep -q "$1"; }
# Waits (10 s) until the caption matches $1; sets text to it.
outcome_shows() { wait_until 10 shows "$1" || fail "no '$1' shown: '$(caption)'"; text=$(caption); }

# The bytes device $1 (A unless given) received; whether they are the image, or an exact prefix of it.
capture_of() { echo "$work/capture/${1:-A}.bin"; }
captured() { [ -f "$(capture_of "$@")" ] && stat -c %s "$(capture_of "$@")" || echo 0; }
whole_image() { cmp -s "$(capture_of "$@")" "$image"; }
exact_prefix() { [ "$(captured)" -gt 0 ] && [ "$(captured)" -lt "$size" ] && cmp -s -n "$(captured)" "$(capture_of)" "$image"; }
# For the table: what A and B received, in bytes.
captured_twins() { echo "$(captured A)/$(captured B)"; }
tick_of() { grep -m 1 -- "$1" "$work/driver.log" | cut -d' ' -f1; }

# A close ends the process within the program's own 400 ms wait for the transfer thread, plus Wine's
# teardown: 1.4 s was seen on a loaded machine. The bound catches a close that hangs, not a slow
# machine; the table prints each close's time.
close_bound_ms=5000

close_program() {
    click_at "$CANTORA_CLOSE_BUTTON"
    local start; start=$(now_ms)
    wait_until 10 program_ended || fail "still running 10 s after the close"
    wait "$pid"; exit_code=$?
    close_ms=$(( $(now_ms) - start ))
    pid=""
}

# The lists of ports taken (each begins with a question to number 0, which the driver counts from 0):
# list 0 as winmm starts (the names alone), then the program's: list 1 at start, list 2 at a pick, list 3
# when it checks that the device is still there after the last message, and from list 4 on, every
# 250 ms, as it watches the updated device restart. A pick that finds nothing to open takes two: its
# own and a fresh list for the port box.
lists_taken() { count_logged "MODM_GETDEVCAPS 0 "; }

# After "Update completed", while the device is still there: waits until the program has taken $1 lists,
# or has let go of the port (which it does once it sees the device leave). The port must still be open
# and the guidance still that of a device yet to restart: the watch did not take it for gone.
watch_kept_port() {
    local wanted=$1
    watched() { [ "$(lists_taken)" -ge "$wanted" ] || logged "MODM_CLOSE"; }
    wait_until 15 watched || fail "the program stopped taking the list after $(lists_taken) lists"
    logged "MODM_CLOSE" && fail "the watch let go of the port: it took the device for gone"
    advice=$(guidance_shown)
    echo "$advice" | grep -q "now installs" || fail "not the guidance of a device yet to restart: '$advice'"
}

# Whether every path the driver wrote left room in the program's buffer (its size as the C runtime's heap
# knows it) for a terminator after the last whole character: where none fits, a path is read past its
# buffer's end. Prints what it found.
paths_fit() {
    awk '/INTERFACE .* bytes asked, buffer/ {
            for (i = 1; i <= NF; ++i) if ($i == "asked,") { asked = $(i - 2); room = $(i + 2) }
            ++paths; if (room + 0 < asked + asked % 2 + 2) { ++short; last = asked " bytes in a buffer of " room }
         }
         END { printf "%d paths, %d in a buffer too small%s\n", paths, short, short ? " (" last ")" : "";
               exit !(paths > 0 && short == 0) }' "$work/driver.log"
}

table_format='%-32s %-48s %8s %16s %6s %8s'
# shellcheck disable=SC2059 # the format is the table's
row() { results+=("$(printf "$table_format" "$@")"); }

# ---------------------------------------------------------------------------------------------------
echo "== The whole image"
start_with_driver
pick_port
start=$(now_ms)
press_update
wait_until 60 shows "Update completed" || fail "no 'Update completed': '$(caption)'"
elapsed=$(( $(now_ms) - start ))
whole_image || fail "the driver holds $(captured) bytes, not the image"
[ "$(count_logged MODM_LONGDATA)" -eq "$messages" ] || fail "$(count_logged MODM_LONGDATA) long messages, not $messages"
echo "the driver's log of a normal update, from the open, and its last lines:"
grep -m 1 -A 3 "MODM_OPEN" "$work/driver.log"; echo "..."; tail -n 3 "$work/driver.log"
row "whole image" "Update completed" "${elapsed}ms" "$(captured)" "-" "-"
close_program
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code"

echo "== A device that stops taking data at message 1000"
start_update CANTORA_MIDI_STOP_AT=1000
wait_until 30 logged "MODM_RESET" || fail "the port was never given back"
outcome_shows "Update failed"
echo "$text" | grep -q "stopped taking data" || fail "not the stall's status: '$text'"
to_failure=$(( $(tick_of MODM_RESET) - $(tick_of "STOPPED") ))
# The program's limit is the message's time at 31,250 baud plus 2 s. It may give up later on a loaded
# machine, so the check allows 5 s more: that still fails a wait of the wrong kind (10 s, or none at all
# until the close), and the table prints the real time.
bound=$(( (504 * 10 * 1000 + 31249) / 31250 + 2000 ))
[ "$to_failure" -le $(( bound + 5000 )) ] || fail "the failure came $to_failure ms after the stop (limit $bound ms)"
exact_prefix || fail "the driver holds no exact prefix ($(captured) bytes)"
advice=$(guidance_shown)
# Read by OCR, which may take a letter for another: two words of the line are enough.
echo "$advice" | grep -q "stopped taking data.*recovery" || fail "not the stall's guidance: '$advice'"
echo "guidance: $advice"
row "stops at message 1000" "$(echo "$text" | sed 's/.*progress: //')" "${to_failure}ms" "$(captured)" "-" "-"
close_program

for at in 1000 end; do
    echo "== An unplug at message $at"
    start_with_driver CANTORA_MIDI_UNPLUG_AT=$at
    pick_port
    press_update
    wait_until 30 logged "MODM_RESET" || fail "the port was never given back"
    wait_until 10 shows "Update failed" || fail "no failure shown: '$(caption)'"
    text=$(caption)
    echo "$text" | grep -q "Update completed" && fail "'Update completed' over an unplugged device"
    row "unplug at message $at" "$(echo "$text" | sed 's/.*progress: //')" "-" "$(captured)" "-" "-"
    close_program
done

echo "== A close during a transfer"
start_update CANTORA_MIDI_PACE=baud
wait_until 10 logged "MODM_LONGDATA 5 " || fail "the transfer did not start"
close_program
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code after the close"
logged "MODM_RESET" && logged "MODM_CLOSE" || fail "the driver saw no reset and close"
[ "$close_ms" -lt "$close_bound_ms" ] || fail "the process ended $close_ms ms after the close"
row "close during a transfer" "reset, close" "-" "$(captured)" "$exit_code" "${close_ms}ms"

echo "== A close while the driver hangs inside a call"
start_update CANTORA_MIDI_HANG_AT=5
wait_until 10 logged "HANGING" || fail "the driver never hung"
close_program
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code after the close"
[ "$close_ms" -lt "$close_bound_ms" ] || fail "the process ended $close_ms ms after the close"
row "close while the driver hangs" "process ended" "-" "$(captured)" "$exit_code" "${close_ms}ms"
# The single-instance lock went with the process: the program starts again.
start_with_driver
close_program

echo "== A failure, then at once the same port picked again and a new update"
start_update CANTORA_MIDI_STOP_AT=1000 CANTORA_MIDI_CLOSE_DELAY_MS=800 CANTORA_MIDI_ALLOCATED=1
wait_until 30 logged "MODM_RESET" || fail "the port was never given back"
mv "$(capture_of)" "$work/first.bin"
pick_port
press_update
wait_until 60 shows "Update completed" || fail "no 'Update completed' after the re-pick: '$(caption)'"
whole_image || fail "the driver holds $(captured) bytes after the re-pick, not the image"
refusals=$(count_logged MMSYSERR_ALLOCATED)
row "re-pick after a failure" "Update completed" "-" "$(captured)" "-" "-"
echo "opens refused while the old handle closed: $refusals; the port opened again $(( $(grep "MODM_OPEN flags" "$work/driver.log" | tail -n 1 | cut -d' ' -f1) - $(tick_of MODM_RESET) )) ms after the failure's reset"
close_program

# Two devices of the same name, A at number 0 and B at number 1, each with an interface path of its own
# unless the run says otherwise. Whatever happens, only the device picked (A) may receive anything.
echo "== Twins: the one picked unplugged at message 1000, the same entry picked again"
start_with_driver CANTORA_MIDI_DEVICES=2 CANTORA_MIDI_UNPLUG_AT=1000
pick_port
[ "$(last_opened)" = A ] || fail "the first pick opened device $(last_opened), not A"
press_update
wait_until 30 logged "MODM_RESET" || fail "the port was never given back"
wait_until 10 shows "Update failed" || fail "no failure shown: '$(caption)'"
# B now answers at number 0, the number A was listed at.
pick_refused
[ "$(captured B)" -eq 0 ] || fail "device B received $(captured B) bytes"
row "twin gone, picked again" "nothing opened" "-" "$(captured_twins)" "-" "-"
close_program

echo "== Twins: the one picked unplugged at message 1000 and back, at number 1, before it is picked again"
start_update CANTORA_MIDI_DEVICES=2 CANTORA_MIDI_UNPLUG_AT=1000 CANTORA_MIDI_REPLUG=1
wait_until 30 logged "PLUGGED BACK" || fail "device A never came back"
wait_until 10 shows "Update failed" || fail "no failure shown: '$(caption)'"
mv "$(capture_of A)" "$work/first.bin"
pick_port
[ "$(last_opened)" = A ] || fail "the pick opened device $(last_opened), not A"
echo "the re-pick: $(grep "MODM_OPEN flags" "$work/driver.log" | tail -n 1 | cut -d' ' -f2-)"
press_update
wait_until 60 shows "Update completed" || fail "no 'Update completed' after the re-pick: '$(caption)'"
whole_image A || fail "device A holds $(captured A) bytes after the re-pick, not the image"
[ "$(captured B)" -eq 0 ] || fail "device B received $(captured B) bytes"
row "twin back before the re-pick" "Update completed" "-" "$(captured_twins)" "-" "-"
close_program

echo "== Twins: the one picked unplugged after the last message, its twin then at its number"
start_update CANTORA_MIDI_DEVICES=2 CANTORA_MIDI_UNPLUG_AT=end
wait_until 30 logged "A UNPLUGGED after the last message" || fail "device A was never unplugged"
# The twin that now answers at A's number must not count as A still being there.
outcome_shows "Update \(failed\|completed\)"
echo "$text" | grep -q "Update failed" || fail "not a failure once device A had gone: '$text'"
wait_until 10 logged "MODM_RESET" || fail "the port was never given back"
[ "$(captured B)" -eq 0 ] || fail "device B received $(captured B) bytes"
row "twin gone after the last message" "$(echo "$text" | sed 's/.*progress: //')" "-" "$(captured_twins)" "-" "-"
close_program

echo "== Twins whose driver gives no interface path: nothing tells them apart"
start_with_driver CANTORA_MIDI_DEVICES=2 CANTORA_MIDI_PATHS=0
pick_refused
pick_refused
row "twins without paths, picked" "nothing opened" "-" "$(captured_twins)" "-" "-"
close_program

# A driver that fails once, after "Update completed", while the device is there: a list that is not
# whole (a number that did not answer), or one where the device has no path beside its twin, decides
# nothing. List 6 is the watch's third.
echo "== A missed poll: the device's capabilities do not answer once, after 'Update completed'"
start_update CANTORA_MIDI_CAPS_FAIL_AT=6
wait_until 60 shows "Update completed" || fail "no 'Update completed': '$(caption)'"
whole_image || fail "the driver holds $(captured) bytes, not the image"
wait_until 10 logged "FAILED its capabilities answer" || fail "the capabilities answer never failed"
watch_kept_port 9
row "missed poll: capabilities" "Update completed, port kept" "-" "$(captured)" "-" "-"
close_program

echo "== A missed poll: the device's path does not answer once, after 'Update completed', its twin there"
start_update CANTORA_MIDI_DEVICES=2 CANTORA_MIDI_PATH_FAIL_AT=6
[ "$(last_opened)" = A ] || fail "the pick opened device $(last_opened), not A"
wait_until 60 shows "Update completed" || fail "no 'Update completed': '$(caption)'"
whole_image A || fail "device A holds $(captured A) bytes, not the image"
wait_until 10 logged "FAILED its path answer" || fail "the path answer never failed"
watch_kept_port 9
[ "$(captured B)" -eq 0 ] || fail "device B received $(captured B) bytes"
row "missed poll: path, twin there" "Update completed, port kept" "-" "$(captured_twins)" "-" "-"
close_program

# Two units of one name that answer one path: it tells neither apart. A leaves as list 4 begins, after
# the first pick (lists 2 and 3); B then answers A's path at A's number.
echo "== Shared path: two units answer the same path; A picked, then A gone and picked again"
start_with_driver CANTORA_MIDI_DEVICES=2 CANTORA_MIDI_PATHS=shared CANTORA_MIDI_GONE_AT_LIST=4
pick_refused
pick_refused
logged "A UNPLUGGED" || fail "device A never left"
[ "$(captured B)" -eq 0 ] || fail "device B received $(captured B) bytes"
row "shared path, A gone, re-picked" "nothing opened" "-" "$(captured_twins)" "-" "-"
close_program

# B takes A's number between the program's list and its open: the open reaches B, whose path is not A's.
echo "== Another unit takes the device's number between the list and the open"
start_with_driver CANTORA_MIDI_DEVICES=2 CANTORA_MIDI_UNPLUG_AT=open
choose_first_port
wait_until 10 logged "B MODM_CLOSE" || fail "the handle the open gave for device B was never closed"
[ "$(last_opened)" = B ] || fail "the open reached device $(last_opened), not B"
[ "$(count_logged "B MODM_LONGDATA")" -eq 0 ] && [ "$(captured B)" -eq 0 ] ||
    fail "device B received $(count_logged "B MODM_LONGDATA") messages, $(captured B) bytes"
advice=$(guidance_shown)
echo "$advice" | grep -q "no longer there" || fail "not the guidance of a device gone: '$advice'"
row "number taken at the open" "nothing sent" "-" "$(captured_twins)" "-" "-"
close_program

echo "== Unterminated name: a name of 32 characters that fills its field"
long_name="Cantora 2 MIDI Out Port 32 Chars"
start_with_driver CANTORA_MIDI_NAME="$long_name"
pick_port
shown=$(port_shown)
[ "$shown" = "$long_name" ] || fail "the port box shows '$shown', not the 32 characters '$long_name'"
press_update
wait_until 60 shows "Update completed" || fail "no 'Update completed': '$(caption)'"
whole_image || fail "the driver holds $(captured) bytes, not the image"
# The driver puts another letter after the name in each answer: the name must read the same in every
# list, or the device is not found again.
watch_kept_port 7
row "unterminated name, 32 chars" "Update completed" "-" "$(captured)" "-" "-"
close_program
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code"

# A driver that answers the path's size oddly: an odd size (the last character written by its low byte,
# no terminator), or 8 bytes written for it. Each list, the open and the watch read the paths.
for paths in odd wide; do
    case $paths in odd) name="odd path size, twins" ;; *) name="8-byte path size, twins" ;; esac
    echo "== $name: only their paths tell A from B"
    start_update CANTORA_MIDI_DEVICES=2 CANTORA_MIDI_PATHS=$paths
    [ "$(last_opened)" = A ] || fail "the pick opened device $(last_opened), not A"
    if [ "$paths" = odd ]; then
        logged "INTERFACESIZE 0: [0-9]*[13579] bytes" || fail "the driver answered no odd size"
    else
        logged "INTERFACESIZE 0: .*written as 8" || fail "the driver wrote no 8-byte size"
    fi
    wait_until 60 shows "Update completed" || fail "no 'Update completed': '$(caption)'"
    whole_image A || fail "device A holds $(captured A) bytes, not the image"
    [ "$(captured B)" -eq 0 ] || fail "device B received $(captured B) bytes"
    watch_kept_port 7
    fit=$(paths_fit) || fail "a path left no room for a terminator in the program's buffer: $fit"
    echo "$fit"
    close_program
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code"
    row "$name" "Update completed" "-" "$(captured_twins)" "$exit_code" "${close_ms}ms"
done

echo
# shellcheck disable=SC2059 # the format is the table's
printf "$table_format\n" "case" "caption" "to end" "captured" "exit" "close"
printf '%s\n' "${results[@]}"
echo "PASS: the Windows program's MIDI port against the scripted driver"
