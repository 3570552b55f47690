#!/usr/bin/env bash
# make package: builds the Debian package of the Linux program (Release, stripped at link time, with
# Debian's hardening flags), checks it with lintian, desktop-file-validate and appstreamcli, and tries it in a throwaway
# Debian 12 root made with mmdebstrap (never on this machine): installs it with apt-get, starts the
# program from the desktop entry's Exec line under Xvfb, removes it, and checks that no file of it is
# left. Exit code 0 only when everything passed.
#   package.sh [--files-only]
# --files-only builds the package and reads its fields back, without lintian and the other validators
# and without the throwaway root (make reproducible builds the package twice that way).
set -euo pipefail

files_only=0
[ "${1:-}" = "--files-only" ] && files_only=1

top=$(cd "$(dirname "$0")/../.." && pwd)
build=$top/build-package
root=$build/root
cd "$top"

# shellcheck source=tools/lib/common.sh
source "$top/tools/lib/common.sh"
began=$(date +%s)

step "Packages"
tools/deps/deps.sh g++ cmake ninja-build pkg-config make juce-modules-source libasound2-dev librsvg2-bin \
    dpkg-dev lintian desktop-file-utils appstream mmdebstrap xvfb xauth xdotool x11-utils

step "Build and package"
# The modes of the package's files and folders, and of its members, do not depend on the builder's umask.
umask 022
# Debian's flags warn of every __DATE__ and __TIME__ (the framework has one of each); the build sets
# SOURCE_DATE_EPOCH, which makes both the commit's, and make reproducible checks that they are.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCANTORA_BUILD_TESTS=OFF \
      -DFIRMWARE_SYX="${FIRMWARE_SYX:-}" \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS) -Wno-date-time" \
      -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS) -Wl,-z,now -s" > /dev/null
cmake --build "$build"
(cd "$build" && cpack > /dev/null)
# The version, the package's file name and the title of this build.
# shellcheck source=/dev/null
source "$build/cantora-facts.sh"
deb=$build/$CANTORA_DEB_FILE
[ -f "$deb" ] || fail "no $CANTORA_DEB_FILE from cpack"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"
dpkg-deb -f "$deb" Package Version Section Priority Maintainer Depends
# A build without a vendor image carries the stand-in: its name and description say so (the screen's
# notice, in the description's lines), and only then.
description=$(dpkg-deb -f "$deb" Description | tr -s ' \n' '  ')
if [ -z "${FIRMWARE_SYX:-}" ]; then
    case "$(basename "$deb")" in *"~standin_"*) ;; *) fail "a stand-in build named $(basename "$deb")" ;; esac
    grep -q -F "$CANTORA_STANDIN_NOTICE" <<< "$description" || fail "the description does not carry the stand-in notice"
    echo "marked as a stand-in build: the name and the description"
else
    case "$(basename "$deb")" in *standin*) fail "a build of $FIRMWARE_SYX named $(basename "$deb")" ;; esac
    ! grep -q -F "$CANTORA_STANDIN_NOTICE" <<< "$description" || fail "the description carries the stand-in notice"
    echo "not marked: a build of a given image"
fi
dpkg-deb -c "$deb" | awk '{ print $1, $3, $6 }'
# The newest entries of the changelog and of the AppStream releases are this version's.
changelog=$(zcat "$build/package/changelog.gz" | sed -n '1s/^cantora2-updater (\([^)]*\)).*/\1/p')
release=$(grep -o -m 1 '<release version="[^"]*"' "$build/package/com.korvane.Cantora2Updater.metainfo.xml" | cut -d '"' -f 2)
echo "version $CANTORA_VERSION; the changelog's newest entry: $changelog; the newest AppStream release: $release"
[ "$changelog" = "$CANTORA_VERSION" ] && [ "$release" = "$CANTORA_VERSION" ] ||
    fail "the changelog and the AppStream releases need an entry for $CANTORA_VERSION"

[ "$files_only" -eq 0 ] || { step "PASS (the package only)"; exit 0; }

step "Checks"
desktop-file-validate resources/com.korvane.Cantora2Updater.desktop && echo "desktop-file-validate: no problems"
appstreamcli validate --no-net "$build/package/com.korvane.Cantora2Updater.metainfo.xml"
lintian --fail-on error --display-info "$deb" && echo "lintian: no errors"

step "Install test in a throwaway Debian 12 root"
xvfb=""
program=""
remove_root() {
    for p in $program $xvfb; do
        kill "$p" 2> /dev/null && wait "$p" 2> /dev/null
    done
    for m in tmp/.X11-unix proc; do mountpoint -q "$root/$m" 2> /dev/null && umount "$root/$m"; done
    rm -rf "$root"
}
trap remove_root EXIT
rm -rf "$root"
mmdebstrap --quiet --variant=apt bookworm "$root" http://deb.debian.org/debian
mount -t proc proc "$root/proc"
chroot "$root" apt-get update -q > /dev/null
cp "$deb" "$root/tmp/"
start=$(date +%s%N)
chroot "$root" apt-get install -q -y --no-install-recommends -o Dpkg::Use-Pty=0 "/tmp/$(basename "$deb")" > "$build/install.log"
echo "installed with its dependencies in $(( ($(date +%s%N) - start) / 1000000 )) ms: $(grep -c '^Setting up' "$build/install.log") packages set up"
chroot "$root" dpkg -L cantora2-updater > "$build/files.txt"

# The program, started as the desktop starts it, on an X server of its own.
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/com.korvane.Cantora2Updater.desktop")
# The X server picks a free display itself and names it once it is ready.
exec 3< <(Xvfb -displayfd 1 -ac -screen 0 1280x1024x24 -nolisten tcp 2> /dev/null)
xvfb=$!
read -r -t 30 number <&3 || fail "no X server"
display=:$number
mkdir -p "$root/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
start=$(date +%s%N)
chroot "$root" env DISPLAY="$display" sh -c "exec $exec_line" > "$build/program.log" 2>&1 &
program=$!
window=""
for _ in $(seq 400); do
    window=$(DISPLAY=$display xdotool search --onlyvisible --name "^${CANTORA_TITLE}\$" 2> /dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.05
done
shown=$(( ($(date +%s%N) - start) / 1000000 ))
# The desktop ties the window to its launcher by the window's class.
wm_class=$(DISPLAY=$display xprop -id "$window" WM_CLASS 2> /dev/null | sed -n 's/.*= "\(.*\)", "\(.*\)"/\2/p')
startup_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/com.korvane.Cantora2Updater.desktop")
kill "$program" 2> /dev/null; wait "$program" 2> /dev/null || true
program=""
failure_logs=("40:$build/program.log:what the program printed")
[ -n "$window" ] || fail "no window from '$exec_line'"
echo "'$exec_line' showed the window \"$CANTORA_TITLE\" after $shown ms"
echo "its WM_CLASS: \"$wm_class\"; the installed desktop entry's StartupWMClass: \"$startup_class\""
[ -n "$wm_class" ] && [ "$wm_class" = "$startup_class" ] || fail "the desktop entry does not name the window's class"

umount "$root/tmp/.X11-unix"
chroot "$root" apt-get purge -q -y -o Dpkg::Use-Pty=0 cantora2-updater > /dev/null
left=0
while read -r path; do
    if [ -f "$root$path" ] || [ -L "$root$path" ]; then echo "left behind: $path"; left=1; fi
done < "$build/files.txt"
[ "$left" -eq 0 ] || fail "files of the package remain"
echo "removed: none of its $(wc -l < "$build/files.txt") paths is left as a file"

step "PASS"
