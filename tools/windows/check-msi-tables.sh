#!/usr/bin/env bash
# Reads the Windows installer's tables back with msiinfo (msitools) and prints them, and checks what
# the installer promises: per machine, the program and its licence under Program Files, a Start-menu
# shortcut with the program's icon, the installed-apps entry's name, version, publisher and icon, the
# product code of this version and the upgrade code under which a later version replaces this one.
#   check-msi-tables.sh INSTALLER.msi PRODUCT_CODE      (CANTORA_FACTS names the build's facts file)
set -euo pipefail
# shellcheck source=tools/lib/common.sh
source "$(dirname "$0")/../lib/common.sh"
# shellcheck source=/dev/null
source "$CANTORA_FACTS"

msi=$(realpath "$1")
product_code=$2
version=$CANTORA_VERSION
upgrade_code=$CANTORA_UPGRADE_CODE
name=$CANTORA_PRODUCT_NAME
problems=0
# msiinfo writes the icon table's streams into a folder of the current one: a folder of its own here.
tables=$(mktemp -d)
trap 'rm -rf "$tables"' EXIT
cd "$tables"
check() { if ! tr -d '\r' <<< "$3" | grep -q -P -- "$2"; then echo "not as promised: $1"; problems=$(( problems + 1 )); fi; }

echo "-- summary"
msiinfo suminfo "$msi"
for table in Property Directory Component File Shortcut Icon Upgrade Registry; do
    echo "-- $table"
    msiinfo export "$msi" "$table" | tail -n +4
done

properties=$(msiinfo export "$msi" Property)
check "installed per machine" '^ALLUSERS\t1$' "$properties"
check "the product's name" "^ProductName\t$name\$" "$properties"
check "its version $version" "^ProductVersion\t$version\$" "$properties"
check "its publisher" '^Manufacturer\tKorvane$' "$properties"
check "the product code $product_code" "^ProductCode\t\\{$product_code\\}\$" "$properties"
check "the upgrade code $upgrade_code" "^UpgradeCode\t\\{$upgrade_code\\}\$" "$properties"
check "the installed-apps icon" '^ARPPRODUCTICON\t\S+$' "$properties"
check "the program under Program Files" "^INSTALLDIR\tProgramFiles64Folder\t.*$name\$" \
    "$(msiinfo export "$msi" Directory)"
check "the program and the licence" "$name\.exe" "$(msiinfo export "$msi" File)"
check "the licence" 'LICENSE\.txt' "$(msiinfo export "$msi" File)"
check "a Start-menu shortcut to the program, with its icon" \
    "^ProgramShortcut\tProgramMenuFolder\t.*\t\[INSTALLDIR\]$name\.exe\t.*\tProgramIcon\.ico" \
    "$(msiinfo export "$msi" Shortcut)"
check "an earlier version is replaced" 'WIX_UPGRADE_DETECTED' "$(msiinfo export "$msi" Upgrade)"

[ "$problems" -eq 0 ] || fail "$problems of the installer's promises not kept (above)"
echo "PASS: the installer's tables"
