#pragma once

#include "PortResult.h"

#include <juce_audio_devices/juce_audio_devices.h>

/** One open MIDI output port. Closing it is deleting it, which never keeps the caller waiting for
    the device: a port that still has to wait for it closes on a thread of its own.

    The two calls that wait for the device end at once, with PortResult::abandoned, when the
    juce::Thread that called them is asked to exit; the abandoned wait leaves the port as it is. */
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
