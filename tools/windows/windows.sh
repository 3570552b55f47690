#!/usr/bin/env bash
# make windows: cross-compiles the program for Windows x86-64 with Debian's MinGW-w64 and Debian's
# JUCE, statically linked, checks its resources from Linux, and runs it and its test suite under
# Debian's Wine; then makes what a user downloads (in build-windows/dist/: the program, its installer
# and a portable zip) and tries the installer under Wine. Exit code 0 only when every check passed.
#   windows.sh [--files-only]
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
tools/deps/deps.sh g++ cmake ninja-build pkg-config juce-modules-source g++-mingw-w64-x86-64-posix \
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
# The product's name and version, the names of the files and the title and click points of this build.
export CANTORA_FACTS=$out/release/cantora-facts.sh
# shellcheck source=/dev/null
source "$CANTORA_FACTS"
program="$out/release/app/$CANTORA_PRODUCT_NAME.exe"
echo "$program: $(stat -c %s "$program") bytes"

step "The program's resources, read back"
/usr/bin/python3 tools/windows/check-resources.py "$program" "$CANTORA_VERSION" "$CANTORA_PRODUCT_NAME"

# The test suite and the runs under Wine (not for --files-only).
if [ "$files_only" -eq 0 ]; then
    # The tests keep the framework's assertions; optimised, since a debug build takes minutes to link.
    step "The test suite (optimised, with the framework's assertions)"
    cmake -S . -B "$out/tests" "${cross[@]}" -DCMAKE_BUILD_TYPE=Release -DCANTORA_LOG_ASSERTIONS=ON \
          -DCANTORA_BUILD_APP=OFF > /dev/null
    cmake --build "$out/tests" --target cantora_tests cantora_app_tests

    step "Under Wine"
    mkdir -p "$out/tools"
    x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -shared -o "$out/tools/dxgi.dll" tools/doubles/windows/failing_dxgi.c
    tools/windows/check-program.sh "$program" "$out/tests/tests" "$out/tools/dxgi.dll"

    # A MIDI output driver for Wine whose faults each case chooses, and a helper that makes a window paint
    # itself before a screenshot (Wine never runs the framework's own repaints).
    step "The program's MIDI port against a scripted driver, under Wine"
    x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -shared -o "$out/tools/winecantoramidi.drv" \
        -I . tools/doubles/windows/scripted_midi_driver.c -lwinmm
    x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -o "$out/tools/redraw_window.exe" tools/doubles/windows/redraw_window.c
    tools/windows/check-midi.sh "$program" "$out/tools/winecantoramidi.drv" "$out/tools/redraw_window.exe" \
        "${FIRMWARE_SYX:-$out/release/generated/cantora2-standin.syx}"
fi

# What a user downloads: the program, an installer and a portable zip; the installer's tables read back.
step "The installer and the portable zip"
tools/windows/build-installer.sh "$program" "$out"

if [ "$files_only" -eq 0 ]; then
    step "The installer under Wine"
    tools/windows/check-msi-install.sh "$out/dist/$CANTORA_WINDOWS_NAME.msi" "$out/installer/later.msi"
fi

step "PASS"
