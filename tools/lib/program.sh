# shellcheck shell=bash
# The program as a user drives it on an X display; sourced, not run, once $window is known to the
# callers. CANTORA_FACTS names the build's facts file: the window's title and the points to click.

# shellcheck source=/dev/null
source "$CANTORA_FACTS"
title=$CANTORA_TITLE

# Clicks one of the facts' points ("X Y", from the window's top left corner) in the program's window.
# shellcheck disable=SC2086 # a point is two numbers
click_at() { xdotool mousemove --window "$window" $1 click 1; }
