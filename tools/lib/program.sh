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

# Whether the help window shows.
help_shown() { [ -n "$(window_titled "$CANTORA_HELP_TITLE")" ]; }

# Whether the program started last ($pid, the caller's) has ended.
# shellcheck disable=SC2154 # pid is the calling script's
program_ended() { ! kill -0 "$pid" 2> /dev/null; }

# How many visible windows carry the program's title; whether exactly one does.
count_windows() { xdotool search --onlyvisible --name "^${title}\$" 2> /dev/null | wc -l; }
one_window() { [ "$(count_windows)" -eq 1 ]; }

# Clicks one of the facts' points ("X Y", from the window's top left corner) in the program's window.
# shellcheck disable=SC2086 # a point is two numbers
click_at() { xdotool mousemove --window "$window" $1 click 1; }
