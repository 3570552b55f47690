#pragma once

#include "midi/MidiPortList.h"
#include "midi/PortIdentity.h"

#include <vector>

/** The ALSA raw MIDI output ports of this machine. The device paces the transfer: a send returns only
    once the device has taken the whole message. (The sequencer, which the framework sends through on
    Linux, drops data when a USB MIDI port's buffer is full and tells nobody.)

    Every wait of a send watches the sending thread's exit flag and the port's descriptors, so a stop
    request or an unplug ends it at once, and a port is closed on a thread of its own, since closing a
    raw MIDI port waits for the device. */
class AlsaRawMidiPorts : public MidiPortList
{
public:
    /** Also routes the ALSA library's own error messages through the program's handler. */
    AlsaRawMidiPorts();

    juce::StringArray getOutputNames() override;
    Opened openOutput (int index) override;
    PickedPort describePort (int index) override;
    FoundPort findDevice (const PickedPort& picked) override;

    /** How long the device must still be there after the last message before a transfer counts as
        delivered: longer than the kernel takes to notice an unplug behind a USB hub, whose status is
        read every 256 ms at the slowest. */
    static constexpr int confirmationMilliseconds = 500;

    /** A device that takes no byte for this long has stopped: the kernel's own limit for a drain. */
    static constexpr int stallMilliseconds = 10000;

private:
    struct Output
    {
        ListedPort port;
        bool usbMidi = false; // the USB MIDI driver, whose drain shows transfers still in flight
    };

    struct Listing
    {
        std::vector<Output> outputs;
        bool complete = true; // false when a card did not answer
    };

    /** The outputs present. Opens each sound card's control device for a moment (never a MIDI port,
        so a device is never held by it). */
    static Listing listOutputs();
    static PortScan scanOf (const Listing& listing);

    std::vector<Output> outputs; // the last list, in its order
};
