#pragma once

#include "PortResult.h"

#include <juce_audio_devices/juce_audio_devices.h>

/** One open MIDI output port. Closing it is deleting it, which never keeps the caller waiting for
    the device: a port that still has to wait for it closes on a thread of its own.

    The waits of the two calls that wait for the device end, with PortResult::abandoned, when the
    juce::Thread that called them is asked to exit: at once, or after the driver's own drain of at
    most 50 ms on ALSA. The abandoned wait leaves the port as it is. A driver call that itself never
    returns cannot be ended from here: the program's window ends the process then. */
class MidiOutputPort
{
public:
    virtual ~MidiOutputPort() = default;

    /** Sends one complete message and returns once the port has taken it. */
    virtual PortResult sendMessage (const juce::uint8* bytes, int numBytes) = 0;

    /** After the last message: waits until the device has taken everything sent, and checks that it
        is still there. */
    virtual PortResult confirmDelivery() = 0;
};
