#!/usr/bin/env bash
# End-to-end proof of delivery on the real Linux MIDI stack: boots Debian's own kernel in a virtual
# machine with an emulated USB MIDI device, sends the carried image to it with the program's own
# sending path (and, for comparison, a plain sender and amidi -s),
# compares what the device received with the image, and plays unplugs, a close and a retry on it.
# Prints PASS or FAIL with the figures; exit code 0 only on PASS.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tools/lib/common.sh
source "$top/tools/lib/common.sh"
build=$top/build-e2e
work=$build/guest
runs=${E2E_RUNS:-3}

# Host packages: the emulator, a static busybox, amidi and the kernel module tools.
"$top/tools/deps/deps.sh" qemu-system-x86 busybox-static alsa-utils cpio kmod

# The programs that run in the guest, optimised.
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCANTORA_BUILD_E2E=ON \
      -DCANTORA_BUILD_TESTS=OFF -DCANTORA_BUILD_APP=OFF -DFIRMWARE_SYX="${FIRMWARE_SYX:-}" > /dev/null
cmake --build "$build" --target send_firmware rawmidi_capture compare_capture plain_sender gadget_midi_device

image=${FIRMWARE_SYX:-$build/generated/cantora2-standin.syx}

# Debian's own kernel, unpacked here (never installed on the host).
kernel_dir=$work/kernel
# Without it nothing here can run: a machine that cannot download it fails, and says so.
if [ ! -d "$kernel_dir/root/boot" ]; then
    rm -rf "$kernel_dir" && mkdir -p "$kernel_dir"
    download() {
        failure_logs=("40:$kernel_dir/download.log:apt-get download")
        (cd "$kernel_dir" && apt-get download "$1" > "$kernel_dir/download.log" 2>&1) ||
            fail "the kernel package $1 could not be downloaded; make e2e needs Debian's package archive"
    }
    download linux-image-amd64
    package=$(dpkg-deb -f "$kernel_dir"/linux-image-amd64_*.deb Depends | sed 's/ *(.*//; s/,.*//')
    download "$package"
    dpkg-deb -x "$kernel_dir/${package}"_*.deb "$kernel_dir/root"
fi
version=$(ls "$kernel_dir/root/lib/modules" | head -n 1)
depmod -b "$kernel_dir/root" "$version"

# The initramfs: busybox, the modules in load order, the programs with their libraries, ALSA's
# configuration, the image, and the init script.
rootfs=$work/rootfs
rm -rf "$rootfs" && mkdir -p "$rootfs"/{bin,modules,usr/share,tmp}
cp /bin/busybox "$rootfs/bin/busybox"

: > "$rootfs/modules/order"
for module in dummy_hcd libcomposite usb_f_midi gadgetfs snd-usb-audio snd-seq-midi snd-seq; do
    modprobe -d "$kernel_dir/root" -S "$version" --show-depends "$module"
done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' | while read -r ko; do
    cp "$ko" "$rootfs/modules/"
    basename "$ko" >> "$rootfs/modules/order"
done

copy_with_libraries() {
    local program=$1
    cp "$program" "$rootfs/bin/"
    ldd "$program" | awk '/=>/ { print $3 } /^\s*\/lib/ { print $1 }' | while read -r lib; do
        [ -n "$lib" ] && [ -e "$lib" ] || continue
        mkdir -p "$rootfs$(dirname "$lib")"
        cp -L "$lib" "$rootfs$lib"
    done
}
for program in "$build/tools/e2e/send_firmware" "$build/tools/e2e/rawmidi_capture" \
               "$build/tools/e2e/compare_capture" "$build/tools/e2e/plain_sender" \
               "$build/tools/e2e/gadget_midi_device" /usr/bin/amidi; do
    copy_with_libraries "$program"
done
mkdir -p "$rootfs/lib64" && cp -L /lib64/ld-linux-x86-64.so.2 "$rootfs/lib64/"
cp -r /usr/share/alsa "$rootfs/usr/share/alsa"
cp "$image" "$rootfs/image.syx"
sed -e "s/^runs=.*/runs=$runs/" -e "s/^last_runs=.*/last_runs=${E2E_LAST_MESSAGE_RUNS:-20}/" \
    "$top/tools/e2e/guest-init.sh" > "$rootfs/init"
chmod +x "$rootfs/init"
(cd "$rootfs" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz"

# Boot it, with a bound on the host side; the guest powers itself off.
log=$work/console.log
echo "Booting the test machine (software emulation; a few minutes)..."
start=$(date +%s)
timeout 2400 qemu-system-x86_64 -m 1024 -smp 2 -nographic -no-reboot \
    -kernel "$kernel_dir/root/boot/vmlinuz-$version" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1 rdinit=/init" > "$log" 2>&1 || true
total=$(( $(date +%s) - start ))

tr -d '\r' < "$log" | grep '^E2E' | grep -v -E '^E2E (TABLE|STALL)' | sed 's/^E2E //' || true
echo "total: ${total} s (boot, device set-up, transfers and fault cases)"

# The program beside the plain sender and amidi -s, round by round.
tr -d '\r' < "$log" | awk '
    function value(key,   i, kv) { for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[1] == key) return kv[2] } return "" }
    /^E2E TABLE/ {
        if (!header++) printf "\n%4s %11s %11s %10s %9s %15s %14s %s\n", "run", "program ms", "(+ confirm)", "plain ms", "amidi ms", "program/plain", "program/amidi", "intact: program plain amidi"
        p = value("program_ms"); q = value("plain_ms"); a = value("amidi_ms")
        printf "%4s %11s %11s %10s %9s %15.2f %14.2f %s %s %s\n", value("run"), p, value("confirm_ms"), q, a, p / q, p / a,
               value("program_intact"), value("plain_intact"), value("amidi_intact")
    }'

# A device that stops taking data, case by case.
tr -d '\r' < "$log" | awk '
    function value(key,   i, kv) { for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[1] == key) return kv[2] } return "" }
    /^E2E STALL/ {
        if (!header++) printf "\n%-14s %-9s %-44s %12s %18s  %s\n", "bytes before", "resumed", "outcome", "device holds", "stop to outcome ms", "verdict"
        match($0, /status="[^"]*"/); outcome = substr($0, RSTART + 8, RLENGTH - 9)
        resumed = value("resumed_ms"); resumed = resumed < 0 ? "never" : "after " resumed / 1000 " s"
        match($0, /verdict="[^"]*"/); verdict = substr($0, RSTART + 9, RLENGTH - 10)
        printf "%-14s %-9s %-44s %12s %18s  %s%s\n", value("before_end"), resumed, outcome, value("held"), value("stop_to_status_ms"),
               verdict, index($0, "case=\"halted") ? " (halted endpoint)" : ""
    }'

if tr -d '\r' < "$log" | grep '^E2E PASS' > /dev/null; then
    echo "PASS"
else
    echo "FAIL (console: $log)"
    exit 1
fi
