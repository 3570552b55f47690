# shellcheck shell=bash
# The program as a user drives it on an X display; sourced, not run, once $window is known to the
# callers. CANTORA_FACTS names the build's facts file: the window's title and the points to click.

# shellcheck source=/dev/null
source "$CANTORA_FACTS"
title=$CANTORA_TITLE

# The id of the visible window with this title, printed; nothing when there is none. (A search can
# fail outright while windows come and go: callers ask again.)
window_titled() { xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n 1; }

# Whether the program's window shows; sets $window to it.
program_window_shown() { window=$(window_titled "$title"); [ -n "$window" ]; }

# Clicks one of the facts' points ("X Y", from the window's top left corner) in the program's window.
# shellcheck disable=SC2086 # a point is two numbers
click_at() { xdotool mousemove --window "$window" $1 click 1; }
