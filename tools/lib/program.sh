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

# Removes the System V shared memory that a program which has ended ($1, its id) made. Its X windows
# keep their images there, and the system keeps them after a program that a signal or a crash ends;
# at 4096 segments no program on the machine gets more (the framework's check for them then leaks an
# image, which the address sanitizer fails).
remove_segments_of() {
    # /proc/sysvipc/shm: a heading, then key, shmid, perms, size and the creator's id for each.
    awk -v p="$1" 'NR > 1 && $5 == p { print $2 }' /proc/sysvipc/shm | while read -r id; do
        ipcrm -m "$id" 2> /dev/null || true
    done
}

# Ends a program by its id ($1, a child of the caller), and removes the shared memory it made.
end_program_by_id() {
    { kill "$1" && wait "$1"; } 2> /dev/null || true
    remove_segments_of "$1"
}

# How many visible windows carry the program's title; whether exactly one does.
count_windows() { xdotool search --onlyvisible --name "^${title}\$" 2> /dev/null | wc -l; }
one_window() { [ "$(count_windows)" -eq 1 ]; }

# Clicks one of the facts' points ("X Y", from the window's top left corner) in the program's window.
# shellcheck disable=SC2086 # a point is two numbers
click_at() { xdotool mousemove --window "$window" $1 click 1; }
