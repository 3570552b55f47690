#pragma once

#include <string>

// How the ALSA raw MIDI outputs are named and addressed in the port list.

/** The name a raw MIDI output is listed under, without its address: the device's name, or the
    subdevice's own name where the device has several subdevices, e.g. "Cantora 2 MIDI 1". */
std::string rawMidiPortBaseName (const std::string& deviceName, const std::string& subdeviceName,
                                 unsigned int subdeviceCount);

/** The ALSA address of a raw MIDI subdevice, "hw:C,D,S". */
std::string rawMidiAddress (int card, int device, int subdevice);

/** What names the physical device behind a sound card, for telling it from a twin of the same name
    and for finding it again under another card number. Read from sysfs under sysfsRoot ("/sys" on a
    running system), which any user may read: for a USB device its place on the bus ("usb 1-1.2") and
    its serial number where it has one; for any other device its sysfs path. Without sysfs, the card's
    long name where it still holds its whole "at usb-…, … speed" tail (the kernel cuts long names at
    80 bytes, and a cut one no longer differs between twins). Empty when nothing names the device. */
std::string soundCardIdentity (const std::string& sysfsRoot, int card, const std::string& longName);
