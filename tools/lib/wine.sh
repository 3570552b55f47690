# shellcheck shell=bash
# What the Windows checks share; sourced, not run, with the script's own arguments. Sourcing it runs
# the script again on an X server of its own, and brings the common helpers, the program's facts and
# clicks (program.sh), and a Wine prefix of the script's own.

# shellcheck source=tools/lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
run_on_own_x_server "$0" "$@"
# shellcheck source=tools/lib/program.sh
source "$(dirname "${BASH_SOURCE[0]}")/program.sh"

# Makes the prefix, once the display is there (without one Wine has no window driver). With no window
# manager on the display, Wine must not wait for one to manage its windows. Exports WINEPREFIX.
wine_prefix_make() {
    export WINEDEBUG=-all WINEARCH=win64
    WINEPREFIX=$(mktemp -d)
    export WINEPREFIX
    wineboot -i > /dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f > /dev/null 2>&1
    wineserver -w
}

# For a check's EXIT trap: ends the program it started ($pid, if any), the prefix, and the files given;
# the check fails ($failed, its exit code) unless it ended by a pass.
wine_check_cleanup() {
    local status=$?
    [ -n "${pid:-}" ] && kill "$pid" 2> /dev/null && wait "$pid" 2> /dev/null
    wine_prefix_remove
    rm -rf "$@"
    [ "$status" -ne 0 ] && failed=1
    exit "$failed"
}

# Ends every process of the prefix and removes it (about 700 MB).
wine_prefix_remove() {
    wineserver -k 2> /dev/null
    rm -rf "$WINEPREFIX"
}
