#!/usr/bin/env bash
# Reads the Windows installer's tables back with msiinfo (msitools) and prints them, and checks what
# the installer promises: per machine, the program and its licence under Program Files, a Start-menu
# shortcut with the program's icon, the installed-apps entry's name, version, publisher and icon, the
# product code of this version and the upgrade code under which a later version replaces this one.
#   check-msi.sh INSTALLER.msi VERSION PRODUCT_CODE UPGRADE_CODE
set -euo pipefail

msi=$1
version=$2
product_code=$3
upgrade_code=$4
failed=0
check() { if ! tr -d '\r' <<< "$3" | grep -q -P -- "$2"; then echo "FAIL: $1"; failed=1; fi; }

echo "-- summary"
msiinfo suminfo "$msi"
for table in Property Directory Component File Shortcut Icon Upgrade Registry; do
    echo "-- $table"
    msiinfo export "$msi" "$table" | tail -n +4
done

properties=$(msiinfo export "$msi" Property)
check "installed per machine" '^ALLUSERS\t1$' "$properties"
check "the product's name" '^ProductName\tCantora 2 Updater$' "$properties"
check "its version $version" "^ProductVersion\t$version\$" "$properties"
check "its publisher" '^Manufacturer\tKorvane$' "$properties"
check "the product code $product_code" "^ProductCode\t\\{$product_code\\}\$" "$properties"
check "the upgrade code $upgrade_code" "^UpgradeCode\t\\{$upgrade_code\\}\$" "$properties"
check "the installed-apps icon" '^ARPPRODUCTICON\t\S+$' "$properties"
check "the program under Program Files" '^INSTALLDIR\tProgramFiles64Folder\t.*Cantora 2 Updater$' \
    "$(msiinfo export "$msi" Directory)"
check "the program and the licence" 'Cantora 2 Updater\.exe' "$(msiinfo export "$msi" File)"
check "the licence" 'LICENSE\.txt' "$(msiinfo export "$msi" File)"
check "a Start-menu shortcut to the program, with its icon" \
    '^ProgramShortcut\tProgramMenuFolder\t.*\t\[INSTALLDIR\]Cantora 2 Updater\.exe\t.*\tProgramIcon\.ico' \
    "$(msiinfo export "$msi" Shortcut)"
check "an earlier version is replaced" 'WIX_UPGRADE_DETECTED' "$(msiinfo export "$msi" Upgrade)"

[ "$failed" -eq 0 ] && echo "PASS: the installer's tables"
exit "$failed"
