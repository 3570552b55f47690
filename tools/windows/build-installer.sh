#!/usr/bin/env bash
# What a user of the Windows program downloads, in BUILD/dist: the program, an installer and a portable
# zip, named with the version and, for a build that carries the stand-in image, "-standin". Also the
# same program's installer as the next version (BUILD/installer/later.msi), which the installer's check
# under Wine uses to see that a later version replaces this one. Reads the installer's tables back.
#   build-installer.sh PROGRAM.exe BUILD        (CANTORA_FACTS names the build's facts file)
# The same commit gives the same files: every date in them is the commit's (SOURCE_DATE_EPOCH, which
# the Makefile sets), the zip's entries are sorted with fixed permissions, and the installer's product
# code is a name-based UUID of the version.
# With SIGN_CERT and SIGN_KEY (tools/lib/sign.sh) the program is signed before it goes into the
# installer and the zip, and the installer is signed too; BUILD/installer/unsigned.msi keeps the
# installer as it was before its own signature.
set -euo pipefail
# shellcheck source=tools/lib/common.sh
source "$(dirname "$0")/../lib/common.sh"
# shellcheck source=tools/lib/sign.sh
source "$(dirname "$0")/../lib/sign.sh"

program=$1
out=$2
cd "$(dirname "$0")/../.."
[ -f "$program" ] || fail "no program at $program"
# shellcheck source=/dev/null
source "$CANTORA_FACTS"

epoch=${SOURCE_DATE_EPOCH:-$(date +%s)}
dist=$out/dist
stage=$out/installer
base=$CANTORA_WINDOWS_NAME
exe="$CANTORA_PRODUCT_NAME.exe"
rm -rf "$dist" "$stage" && mkdir -p "$dist" "$stage"
if authenticode_wanted; then
    signing_preflight > /dev/null
    sign_authenticode "$program" "$stage/$exe" "$CANTORA_PRODUCT_NAME"
    program=$stage/$exe
else
    cp "$program" "$stage/$exe"
fi
cp LICENSE "$stage/LICENSE.txt"
cp "$(dirname "$CANTORA_FACTS")/resources/cantora2-updater.ico" resources/cantora2-updater.wxs "$stage/"
{
    cat resources/windows-readme.txt
    [ "$CANTORA_STANDIN" -eq 0 ] || { echo; fold -s -w 100 <<< "$CANTORA_STANDIN_NOTICE"; }
} | sed 's/ *$/\r/' > "$stage/README.txt"
# The installer's cabinet keeps each file's date.
touch -d "@$epoch" "$stage"/*

product_code() {
    /usr/bin/python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
        "$CANTORA_UPGRADE_CODE" "$CANTORA_PRODUCT_NAME $1"
}
# wixl takes its summary's dates from the clock and its package code from chance: both are pinned after.
make_installer() {
    (cd "$stage" && wixl --arch x64 -D Version="$1" -D ProductCode="$(product_code "$1")" \
                         -D UpgradeCode="$CANTORA_UPGRADE_CODE" -D "Exe=$exe" \
                         -D Icon=cantora2-updater.ico -D Licence=LICENSE.txt -o "$2" cantora2-updater.wxs)
    SOURCE_DATE_EPOCH=$epoch /usr/bin/python3 tools/release/pin-msi-summary.py "$2" "$CANTORA_UPGRADE_CODE"
}
make_installer "$CANTORA_VERSION" "$dist/$base.msi"
if authenticode_wanted; then
    mv "$dist/$base.msi" "$stage/unsigned.msi"
    sign_authenticode "$stage/unsigned.msi" "$dist/$base.msi" "$CANTORA_PRODUCT_NAME $CANTORA_VERSION"
fi
cp "$program" "$dist/$base.exe"
SOURCE_DATE_EPOCH=$epoch /usr/bin/python3 - "$dist/$base-portable.zip" "$stage" "$CANTORA_PRODUCT_NAME" << 'PYTHON'
import os, sys, time, zipfile
date = max(time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6], (1980, 1, 1, 0, 0, 0))
zip_name, stage, product = sys.argv[1:]
with zipfile.ZipFile (zip_name, "w", zipfile.ZIP_DEFLATED) as z:
    for name in sorted ((product + ".exe", "LICENSE.txt", "README.txt")):
        entry = zipfile.ZipInfo (product + "/" + name, date)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 3
        entry.external_attr = (0o100755 if name.endswith (".exe") else 0o100644) << 16
        with open (os.path.join (stage, name), "rb") as f:
            z.writestr (entry, f.read())
PYTHON
ls -l "$dist" | tail -n +2
tools/windows/check-msi-tables.sh "$dist/$base.msi" "$(product_code "$CANTORA_VERSION")"

# The same program as the next version, built only to see that it replaces this one.
make_installer "$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<< "$CANTORA_VERSION")" "$stage/later.msi"
