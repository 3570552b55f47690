#!/usr/bin/env bash
# make windows: cross-compiles the program for Windows x86-64 with Debian's MinGW-w64 and Debian's
# JUCE, statically linked, checks its resources from Linux, and runs it and its test suite under
# Debian's Wine; then makes what a user downloads (in build-windows/dist/: the program, its installer
# and a portable zip) and tries the installer under Wine. Exit code 0 only when every check passed.
#   build.sh [--files-only]
# --files-only makes the files and reads them back, without the test suite and the runs under Wine
# (make reproducible builds the files twice that way).
set -euo pipefail

files_only=0
[ "${1:-}" = "--files-only" ] && files_only=1

top=$(cd "$(dirname "$0")/../.." && pwd)
out=$top/build-windows
cd "$top"

# shellcheck source=tools/lib/common.sh
source "$top/tools/lib/common.sh"
began=$(date +%s)

step "Packages"
tools/install-deps.sh g++ cmake ninja-build pkg-config juce-modules-source g++-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest dpkg-dev librsvg2-bin icoutils python3-pefile \
    wine wine64 xvfb xauth xdotool imagemagick tesseract-ocr wixl msitools

step "libpng and libjpeg-turbo from Debian's sources"
tools/windows/build-deps.sh "$out/deps"

# The host tool that makes and embeds the firmware image runs during the build: built for this machine.
step "The build machine's firmware tool"
cmake -S . -B "$out/host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCANTORA_BUILD_TESTS=OFF -DCANTORA_BUILD_APP=OFF \
      -DFIRMWARE_SYX="${FIRMWARE_SYX:-}" > /dev/null
cmake --build "$out/host" --target firmwaretool

# Source paths are written relative to the tree, wherever the tree is.
cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/tools/windows/mingw-w64.cmake" -DCANTORA_WINDOWS_DEPS="$out/deps"
       -DJUCE_DIR=/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 -DCANTORA_FIRMWARETOOL="$out/host/firmwaretool"
       -DFIRMWARE_SYX="${FIRMWARE_SYX:-}" -DCMAKE_C_FLAGS="-ffile-prefix-map=$top=." \
       -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$top=.")

step "The program (Release)"
cmake -S . -B "$out/release" "${cross[@]}" -DCMAKE_BUILD_TYPE=Release -DCANTORA_BUILD_TESTS=OFF > /dev/null
cmake --build "$out/release"
program="$out/release/app/Cantora 2 Updater.exe"
echo "$program: $(stat -c %s "$program") bytes"

step "The program's resources, read back"
/usr/bin/python3 tools/windows/check-resources.py "$program"

# The version, the names of the files and the title and click points of this build.
export CANTORA_FACTS=$out/release/cantora-facts.sh
# shellcheck source=/dev/null
source "$CANTORA_FACTS"

# The test suite and the runs under Wine (not for --files-only).
if [ "$files_only" -eq 0 ]; then
    # The tests keep the framework's assertions; optimised, since a debug build takes minutes to link.
    step "The test suite (optimised, with the framework's assertions)"
    cmake -S . -B "$out/tests" "${cross[@]}" -DCMAKE_BUILD_TYPE=Release -DCANTORA_LOG_ASSERTIONS=ON \
          -DCANTORA_BUILD_APP=OFF > /dev/null
    cmake --build "$out/tests" --target cantora_tests cantora_app_tests

    step "Under Wine"
    mkdir -p "$out/tools"
    x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -shared -o "$out/tools/dxgi.dll" tools/windows/failing_dxgi.c
    tools/windows/wine-checks.sh "$program" "$out/tests/tests" "$out/tools/dxgi.dll"

    # A MIDI output driver for Wine whose faults each case chooses, and a helper that makes a window paint
    # itself before a screenshot (Wine never runs the framework's own repaints).
    step "The program's MIDI port against a scripted driver, under Wine"
    x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -shared -o "$out/tools/winecantoramidi.drv" \
        tools/windows/scripted_midi_driver.c -lwinmm
    x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -o "$out/tools/redraw_window.exe" tools/windows/redraw_window.c
    tools/windows/midi-checks.sh "$program" "$out/tools/winecantoramidi.drv" "$out/tools/redraw_window.exe" \
        "${FIRMWARE_SYX:-$out/release/generated/cantora2-standin.syx}"
fi

# What a user downloads: the program, an installer and a portable zip, named with the version and, for a
# build that carries the stand-in image, "-standin". The same commit gives the same files: every date
# in them is the commit's (SOURCE_DATE_EPOCH, which the Makefile sets), the zip's entries are sorted
# with fixed permissions, and the installer's product code is a name-based UUID of the version.
step "The installer and the portable zip"
epoch=${SOURCE_DATE_EPOCH:-$(date +%s)}
dist=$out/dist
stage=$out/installer
base=$CANTORA_WINDOWS_NAME
rm -rf "$dist" "$stage" && mkdir -p "$dist" "$stage"
cp "$program" "$stage/Cantora 2 Updater.exe"
cp LICENSE "$stage/LICENSE.txt"
cp "$out/release/resources/cantora2-updater.ico" resources/cantora2-updater.wxs "$stage/"
{
    cat resources/windows-readme.txt
    [ "$CANTORA_STANDIN" -eq 0 ] || printf '\nThis build carries a test image with placeholder bytes, not firmware for the device: it cannot\nupdate a Cantora 2.\n'
} | sed 's/$/\r/' > "$stage/README.txt"
# The installer's cabinet keeps each file's date.
touch -d "@$epoch" "$stage"/*

product_code() {
    /usr/bin/python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
        "$CANTORA_UPGRADE_CODE" "Cantora 2 Updater $1"
}
# wixl takes its summary's dates from the clock and its package code from chance: both are pinned after.
make_installer() {
    (cd "$stage" && wixl --arch x64 -D Version="$1" -D ProductCode="$(product_code "$1")" \
                         -D UpgradeCode="$CANTORA_UPGRADE_CODE" -D "Exe=Cantora 2 Updater.exe" \
                         -D Icon=cantora2-updater.ico -D Licence=LICENSE.txt -o "$2" cantora2-updater.wxs)
    SOURCE_DATE_EPOCH=$epoch /usr/bin/python3 tools/release/pin-msi-summary.py "$2" "$CANTORA_UPGRADE_CODE"
}
make_installer "$CANTORA_VERSION" "$dist/$base.msi"
cp "$program" "$dist/$base.exe"
SOURCE_DATE_EPOCH=$epoch /usr/bin/python3 - "$dist/$base-portable.zip" "$stage" << 'PYTHON'
import os, sys, time, zipfile
date = max(time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6], (1980, 1, 1, 0, 0, 0))
with zipfile.ZipFile (sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name in sorted (("Cantora 2 Updater.exe", "LICENSE.txt", "README.txt")):
        entry = zipfile.ZipInfo ("Cantora 2 Updater/" + name, date)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 3
        entry.external_attr = (0o100755 if name.endswith (".exe") else 0o100644) << 16
        with open (os.path.join (sys.argv[2], name), "rb") as f:
            z.writestr (entry, f.read())
PYTHON
ls -l "$dist" | tail -n +2
tools/windows/check-msi.sh "$dist/$base.msi" "$CANTORA_VERSION" "$(product_code "$CANTORA_VERSION")" "$CANTORA_UPGRADE_CODE"

if [ "$files_only" -eq 0 ]; then
    # The same program as the next version, built only to see that it replaces this one.
    later=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<< "$CANTORA_VERSION")
    make_installer "$later" "$stage/later.msi"
    tools/windows/msi-checks.sh "$dist/$base.msi" "$stage/later.msi"
fi

step "PASS"
