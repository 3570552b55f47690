# shellcheck shell=bash
# Shell helpers shared by the project's scripts; sourced, not run.

# Reports a failure and ends the script with exit code 1 (its EXIT trap then cleans up). Before that
# it shows the last lines of each log the script named in failure_logs, as "LINES:FILE:WHAT" words.
failure_logs=()
fail() {
    local entry lines file what
    echo "FAIL: $*"
    for entry in "${failure_logs[@]}"; do
        IFS=: read -r lines file what <<< "$entry"
        [ -s "$file" ] && { echo "--- $what, last lines:"; tail -n "$lines" "$file"; }
    done
    # shellcheck disable=SC2034 # the calling script's, which its EXIT trap reads
    failed=1
    exit 1
}

# Milliseconds on the wall clock.
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Runs a command every 20 ms until it succeeds, for at most $1 seconds; returns 1 when it never did.
wait_until() {
    local deadline=$(( $(now_ms) + $1 * 1000 ))
    shift
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || return 1
        sleep 0.02
    done
}

# Runs the calling script again on an X server of its own (called with "$0" "$@"), so that no other
# test's windows, pointer or keys meet it; does nothing once it runs there. The server never resets
# between its clients (-noreset): one that connects during a reset is cut off.
run_on_own_x_server() {
    [ -n "${CANTORA_OWN_X_SERVER:-}" ] && return 0
    exec env CANTORA_OWN_X_SERVER=1 xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$@"
}

# Starts a step of a long script, with the seconds since $began.
# shellcheck disable=SC2154 # began is the calling script's
step() { echo; echo "== $1 ($(( $(date +%s) - began )) s)"; }

# The sudo prefix for a command that needs root: none when the script already runs as root.
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
