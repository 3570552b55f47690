#pragma once

#include "MidiOutputPort.h"
#include "PortIdentity.h"

#include <memory>

/** The MIDI output ports the program can reach: their names, and a way to open one of them. The
    program uses the platform's ports; tests put ports of their own in its place. */
class MidiPortList
{
public:
    /** Why a port did not open. */
    enum class OpenProblem
    {
        none,
        inUse,      // another program holds it
        notAllowed, // the system does not let this user open it
        notPresent, // the device picked is gone, or can no longer be told from another of its name
        failed      // anything else
    };

    struct Opened
    {
        Opened (std::unique_ptr<MidiOutputPort> portOpened = {}, OpenProblem why = OpenProblem::none,
                juce::String systemText = {})
            : port (std::move (portOpened))
            , problem (why)
            , errorText (std::move (systemText))
        {
        }

        std::unique_ptr<MidiOutputPort> port; // null when it did not open
        OpenProblem problem = OpenProblem::none;
        juce::String errorText; // for a failure of another kind: the system's own words, if any
    };

    virtual ~MidiPortList() = default;

    /** Lists the output ports now present, in the order that openOutput indexes. */
    virtual juce::StringArray getOutputNames() = 0;

    /** Opens the port at this position of the last list taken, if the device listed there can still
        be found. */
    virtual Opened openOutput (int index) = 0;

    /** What the last list taken said of the port at this position: a copy that finds its device
        again whatever lists are taken later. */
    virtual PickedPort describePort (int index) = 0;

    /** Where the device picked is among the ports present now, found as openOutput finds it, without
        opening any port. */
    virtual FoundPort findDevice (const PickedPort& picked) = 0;

    /** The ports the program uses: the ALSA raw MIDI ports on Linux, the multimedia MIDI outputs on
        Windows. (The framework's MIDI output reports no failed send on either, and on Linux goes
        through the sequencer, which drops data when a USB MIDI port is full.) Defined by the platform's
        backend in midi/native/, the one the build compiles in. */
    static MidiPortList& getPlatformPorts();
};
