#!/usr/bin/env bash
# The Windows installer under Wine, on an X server and in a prefix of its own:
#   check-msi-install.sh INSTALLER.msi LATER.msi
# Installs it silently, finds the program, its shortcut and its installed-apps entry, starts the
# installed program and closes it, removes it and finds none of its files left; then installs it and
# LATER.msi (the same program built as the next version) and finds one product installed, the later.
set -uo pipefail
# shellcheck source=tools/lib/wine.sh
source "$(dirname "$0")/../lib/wine.sh"

msi=$1
later=$2

pid=""
failed=0

trap wine_check_cleanup EXIT

wine_prefix_make

name=$CANTORA_PRODUCT_NAME
folder="$WINEPREFIX/drive_c/Program Files/$name"
# The Start menu of all users, where Windows puts a per-machine shortcut; Wine 8 puts it in the user's.
shortcuts=("$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$name.lnk"
           "$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/$name.lnk")
shortcut_made() { for s in "${shortcuts[@]}"; do [ -f "$s" ] && { shortcut=$s; return 0; }; done; return 1; }

# Runs msiexec with these arguments; sets took (ms) and code.
msiexec() {
    local start; start=$(now_ms)
    wine msiexec "$@" > /dev/null 2>&1
    code=$?
    wineserver -w
    took=$(( $(now_ms) - start ))
}

# The installed-apps entries of the product's name, one line each: name, version, publisher.
installed_entries() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2> /dev/null | tr -d '\r' | awk -v product="$name" '
        /^HKEY_/ { if (name == product) print name " | " version " | " publisher; name = version = publisher = "" }
        $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); name = $0 }
        $1 == "DisplayVersion" { sub(/^ *DisplayVersion +REG_SZ +/, ""); version = $0 }
        $1 == "Publisher" { sub(/^ *Publisher +REG_SZ +/, ""); publisher = $0 }
        END { if (name == product) print name " | " version " | " publisher }'
}

# The icon the installed-apps list shows: the installer's product icon, kept by Windows Installer.
product_icon() {
    wine reg query 'HKLM\Software\Classes\Installer\Products' /s 2> /dev/null | tr -d '\r' \
        | sed -n 's/^ *ProductIcon *REG_SZ *//p' | head -n 1
}

nothing_left() { [ ! -e "$folder/$name.exe" ] && [ ! -e "$folder/LICENSE.txt" ] && ! shortcut_made; }

echo "installer: $(basename "$msi"), $(stat -c %s "$msi") bytes"
msiexec /i "$(winepath -w "$msi")" /qn
echo "msiexec /i: exit $code after $took ms"
[ "$code" -eq 0 ] || fail "msiexec /i exited with $code"
[ -f "$folder/$name.exe" ] && [ -f "$folder/LICENSE.txt" ] || fail "no program or licence in $folder"
shortcut_made || fail "no Start-menu shortcut"
echo "Start-menu shortcut: ${shortcut#"$WINEPREFIX/"}"
entries=$(installed_entries)
echo "installed apps: $entries"
[ "$(grep -c . <<< "$entries")" -eq 1 ] || fail "$(grep -c . <<< "$entries") installed-apps entries"
grep -q "| Korvane$" <<< "$entries" || fail "no publisher in the installed-apps entry"
icon=$(product_icon)
echo "its icon: $icon"
[ -n "$icon" ] && [ -f "$(winepath -u "$icon" 2> /dev/null)" ] || fail "no icon for the installed-apps entry"

# The installed program, started as the shortcut starts it: its window shows, and a click on its close
# button ends it with 0.
start=$(now_ms)
wine "C:\\Program Files\\$name\\$name.exe" > /dev/null 2>&1 &
pid=$!
wait_until 30 program_window_shown || fail "the installed program showed no window"
echo "the installed program showed its window after $(( $(now_ms) - start )) ms"
sleep 0.3
wait_until 10 program_window_shown
click_at "$CANTORA_CLOSE_BUTTON"
wait_until 10 program_ended || fail "the installed program did not end on its close button"
wait "$pid"; status=$?
pid=""
[ "$status" -eq 0 ] || fail "the installed program ended with $status"

msiexec /x "$(winepath -w "$msi")" /qn
echo "msiexec /x: exit $code after $took ms"
[ "$code" -eq 0 ] || fail "msiexec /x exited with $code"
nothing_left || fail "files of the product are left after its removal: $(ls "$folder" "${shortcuts[@]}" 2> /dev/null)"
[ -z "$(installed_entries)" ] || fail "an installed-apps entry is left"
echo "removed: no program, licence or shortcut left, no installed-apps entry"

# A later version replaces this one.
msiexec /i "$(winepath -w "$msi")" /qn
[ "$code" -eq 0 ] || fail "msiexec /i exited with $code"
msiexec /i "$(winepath -w "$later")" /qn
echo "the later version installed over it: exit $code after $took ms"
[ "$code" -eq 0 ] || fail "msiexec /i of the later version exited with $code"
entries=$(installed_entries)
echo "installed apps: $entries"
[ "$(grep -c . <<< "$entries")" -eq 1 ] || fail "$(grep -c . <<< "$entries") products installed after the upgrade"
[ -f "$folder/$name.exe" ] || fail "no program after the upgrade"
msiexec /x "$(winepath -w "$later")" /qn
[ "$code" -eq 0 ] && nothing_left || fail "the later version did not remove cleanly"

echo "PASS: the installer under Wine"
