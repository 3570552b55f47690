#pragma once

#include "PortResult.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <memory>

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

/** The MIDI output ports the program can reach: their names, and a way to open one of them. The
    program uses the platform's ports; tests put ports of their own in its place. */
class MidiOutputPorts
{
public:
    /** Why a port did not open. */
    enum class OpenProblem
    {
        none,
        inUse,      // another program holds it
        notPresent, // the device picked is gone, or can no longer be told from another of its name
        failed      // anything else
    };

    struct Opened
    {
        std::unique_ptr<MidiOutputPort> port; // null when it did not open
        OpenProblem problem = OpenProblem::none;
    };

    virtual ~MidiOutputPorts() = default;

    /** Lists the output ports now present, in the order that openOutput indexes. */
    virtual juce::StringArray getOutputNames() = 0;

    /** Opens the port at this position of the last list taken, if the device listed there can still
        be found. */
    virtual Opened openOutput (int index) = 0;

    /** The ports the program uses: the ALSA raw MIDI ports on Linux, the multimedia MIDI outputs on
        Windows. (The framework's MIDI output reports no failed send on either, and on Linux goes
        through the sequencer, which drops data when a USB MIDI port is full.) */
    static MidiOutputPorts& getPlatformPorts();
};
