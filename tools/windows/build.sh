#!/usr/bin/env bash
# make windows: cross-compiles the program for Windows x86-64 with Debian's MinGW-w64 and Debian's
# JUCE, statically linked, checks its resources from Linux, and runs it and its test suite under
# Debian's Wine. The program lands in build-windows/release/app/; exit code 0 only when every check
# passed.
set -euo pipefail

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

cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/tools/windows/mingw-w64.cmake" -DCANTORA_WINDOWS_DEPS="$out/deps"
       -DJUCE_DIR=/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 -DCANTORA_FIRMWARETOOL="$out/host/firmwaretool"
       -DFIRMWARE_SYX="${FIRMWARE_SYX:-}")

step "The program (Release)"
cmake -S . -B "$out/release" "${cross[@]}" -DCMAKE_BUILD_TYPE=Release -DCANTORA_BUILD_TESTS=OFF > /dev/null
cmake --build "$out/release"
program="$out/release/app/Cantora 2 Updater.exe"
echo "$program: $(stat -c %s "$program") bytes"

# The tests keep the framework's assertions; optimised, since a debug build takes minutes to link.
step "The test suite (optimised, with the framework's assertions)"
cmake -S . -B "$out/tests" "${cross[@]}" -DCMAKE_BUILD_TYPE=Release -DCANTORA_LOG_ASSERTIONS=ON \
      -DCANTORA_BUILD_APP=OFF > /dev/null
cmake --build "$out/tests" --target cantora_tests cantora_app_tests

step "The program's resources, read back"
/usr/bin/python3 tools/windows/check-resources.py "$program"

# The title and the click points of this build, for the checks under Wine.
export CANTORA_FACTS=$out/release/cantora-facts.sh

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

# What a user downloads: the program, an installer and a portable zip, named with the version and, for a
# build that carries the stand-in image, "-standin".
step "The installer and the portable zip"
version=$(sed -n 's/^project(CantoraUpdater VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mark=""
[ -n "${FIRMWARE_SYX:-}" ] || mark="-standin"
dist=$out/dist
stage=$out/installer
rm -rf "$dist" "$stage" && mkdir -p "$dist" "$stage"
cp "$program" "$stage/Cantora 2 Updater.exe"
cp LICENSE "$stage/LICENSE.txt"
cp "$out/release/resources/cantora2-updater.ico" resources/cantora2-updater.wxs "$stage/"
make_installer() {
    (cd "$stage" && wixl --arch x64 -D Version="$1" -D "Exe=Cantora 2 Updater.exe" -D Icon=cantora2-updater.ico \
                         -D Licence=LICENSE.txt -o "$2" cantora2-updater.wxs)
}
base=Cantora2Updater-$version$mark
make_installer "$version" "$dist/$base.msi"
cp "$program" "$dist/$base.exe"
{
    cat resources/windows-readme.txt
    [ -z "$mark" ] || printf '\nThis build carries a test image with placeholder bytes, not firmware for the device: it cannot\nupdate a Cantora 2.\n'
} | sed 's/$/\r/' > "$stage/README.txt"
python3 - "$dist/$base-portable.zip" "$stage" << 'PYTHON'
import sys, zipfile
with zipfile.ZipFile (sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name in ("Cantora 2 Updater.exe", "LICENSE.txt", "README.txt"):
        z.write (sys.argv[2] + "/" + name, "Cantora 2 Updater/" + name)
PYTHON
ls -l "$dist" | tail -n +2
tools/windows/check-msi.sh "$dist/$base.msi" "$version"

# The same program as the next version, built only to see that it replaces this one.
later=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<< "$version")
make_installer "$later" "$stage/later.msi"
tools/windows/msi-checks.sh "$dist/$base.msi" "$stage/later.msi"

step "PASS"
