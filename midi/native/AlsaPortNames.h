#pragma once

#include <string>

// How the ALSA raw MIDI outputs are named and addressed in the port list.

/** The name a raw MIDI output is listed under, without its address: the device's name, or the
    subdevice's own name where the device has several subdevices, e.g. "Cantora 2 MIDI 1". */
std::string rawMidiPortBaseName (const std::string& deviceName, const std::string& subdeviceName,
                                 unsigned int subdeviceCount);

/** The ALSA address of a raw MIDI subdevice, "hw:C,D,S". */
std::string rawMidiAddress (int card, int device, int subdevice);
