#!/bin/busybox sh
# Init of the end-to-end test machine: sets up an emulated USB MIDI device on the kernel's dummy USB
# controller, sends the firmware image to it in several ways, and compares what the device received
# with the image. Every result is one line starting with "E2E ". Powers the machine off at the end.

/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mkdir -p /proc /sys /dev /tmp
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

for module in $(cat /modules/order); do
    insmod "/modules/$module" || echo "E2E note: insmod $module failed"
done

mount -t configfs configfs /sys/kernel/config

# The emulated device: one USB MIDI function, bound to the dummy controller.
g=/sys/kernel/config/usb_gadget/cantora
mkdir -p $g/strings/0x409 $g/functions/midi.usb0 $g/configs/c.1
echo 0x1d6b > $g/idVendor
echo 0x0104 > $g/idProduct
echo "Korvane" > $g/strings/0x409/manufacturer
echo "Cantora 2" > $g/strings/0x409/product
echo "Cantora 2" > $g/functions/midi.usb0/id
ln -s $g/functions/midi.usb0 $g/configs/c.1/
echo dummy_udc.0 > $g/UDC

for i in $(seq 100); do
    [ "$(grep -c ']:' /proc/asound/cards 2> /dev/null)" -ge 2 ] && [ -e /dev/snd/seq ] && break
    sleep 0.1
done
cat /proc/asound/cards

gadget=$(awk -F'[][ ]+' '/f_midi|Gadget/ { print $2; exit }' /proc/asound/cards)
usb=$(awk -F'[][ ]+' '/USB-Audio/ { print $2; exit }' /proc/asound/cards)
echo "E2E cards gadget=$gadget usb=$usb"

image=/image.syx
size=$(wc -c < $image)
runs=${E2E_RUNS:-3}
all_intact=yes

now_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }

# run_case NAME must-be-intact COMMAND...: captures on the device side while COMMAND sends.
run_case() {
    name=$1; required=$2; shift 2
    rm -f /tmp/capture.bin
    rawmidi_capture "hw:$gadget,0" /tmp/capture.bin "$size" 3000 30000 > /tmp/capture.log 2>&1 &
    capture=$!
    for i in $(seq 100); do grep -q READY /tmp/capture.log && break; sleep 0.05; done

    start=$(now_ms)
    "$@" > /tmp/send.log 2>&1
    sent=$?
    end=$(now_ms)
    wait $capture

    result=$(compare_capture $image /tmp/capture.bin)
    intact=no
    case "$result" in intact*) intact=yes ;; esac
    own_ms=$(sed -n 's/.* ms=\([0-9.]*\).*/\1/p' /tmp/send.log | tail -n 1)
    echo "E2E case=\"$name\" exit=$sent intact=$intact wall_ms=$(( end - start )) transfer_ms=${own_ms:--} $result"
    grep -E "^port|RESULT" /tmp/send.log | sed 's/^/E2E   /'
    [ "$sent" -ge 128 ] && sed 's/^/E2E   crash: /' /tmp/send.log | tail -n 40
    [ "$required" = required ] && [ "$intact" != yes ] && all_intact=no
}

run_case "framework MidiOutput (ALSA sequencer), as it stood" informative send_firmware --framework "Cantora"

for n in $(seq $runs); do
    run_case "program (ALSA raw MIDI) run $n" required send_firmware "Cantora"
done

run_case "amidi -s (peer)" informative amidi -p "hw:$usb,0,0" -s $image

dmesg | grep -i -E "overrun|midi" | tail -n 5 | sed 's/^/E2E dmesg: /'

if [ "$all_intact" = yes ]; then echo "E2E PASS"; else echo "E2E FAIL"; fi
poweroff -f
