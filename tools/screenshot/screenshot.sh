#!/usr/bin/env bash
# Starts the program on a virtual X display and writes pictures of it:
#   OUT_DIR/main-window.png   the window as started
#   OUT_DIR/help-window.png   the whole display once the Help button has been clicked
#   screenshot.sh PROGRAM OUT_DIR      (CANTORA_FACTS names the build's facts file)
set -euo pipefail
# shellcheck source=tools/lib/common.sh
source "$(dirname "$0")/../lib/common.sh"
run_on_own_x_server "$0" "$@"
# shellcheck source=tools/lib/program.sh
source "$(dirname "$0")/../lib/program.sh"

program=$1
out=$2
mkdir -p "$out"

"$program" > /dev/null 2>&1 &
pid=$!
trap 'end_program_by_id "$pid"' EXIT

wait_until 10 program_window_shown || fail "the program's window did not appear"
# The framework paints the window a moment after it maps it; nothing tells a script when.
sleep 1
import -window "$window" "$out/main-window.png"

click_at "$CANTORA_HELP_BUTTON"
wait_until 10 help_shown || fail "the Help button showed no help window"
sleep 1
import -window root "$out/help-window.png"

echo "Wrote $out/main-window.png and $out/help-window.png"
