#!/usr/bin/env bash
# Starts the program on a virtual X display and writes pictures of it:
#   OUT_DIR/main-window.png   the window as started
#   OUT_DIR/help-window.png   the whole display once the Help button has been clicked
#   screenshot.sh PROGRAM OUT_DIR      (CANTORA_FACTS names the build's facts file)
set -euo pipefail
# shellcheck source=/dev/null
source "$CANTORA_FACTS"

if [ -z "${CANTORA_SCREENSHOT_DISPLAY:-}" ]; then
    exec env CANTORA_SCREENSHOT_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$@"
fi

program=$1
out=$2
mkdir -p "$out"

"$program" > /dev/null 2>&1 &
pid=$!
trap 'kill $pid 2> /dev/null || true' EXIT

window=""
for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name "^${CANTORA_TITLE}\$" 2> /dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.05
done
[ -n "$window" ] || { echo "The program's window did not appear."; exit 1; }
sleep 1
import -window "$window" "$out/main-window.png"

# The Help button: the screen starts below the 26-pixel title bar and inside the 4-pixel border.
# shellcheck disable=SC2086 # the point is two numbers
xdotool mousemove --window "$window" $CANTORA_HELP_BUTTON click 1
sleep 1
import -window root "$out/help-window.png"

echo "Wrote $out/main-window.png and $out/help-window.png"
