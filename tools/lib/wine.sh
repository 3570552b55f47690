# shellcheck shell=bash
# A Wine prefix of the script's own, for the Windows checks; sourced, not run.

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

# Ends every process of the prefix and removes it (about 700 MB).
wine_prefix_remove() {
    wineserver -k 2> /dev/null
    rm -rf "$WINEPREFIX"
}
