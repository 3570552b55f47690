#pragma once

#include "midi/MidiPortList.h"

/** The MIDI outputs of the Windows multimedia functions, as Windows names them. Each message goes out
    as a long message whose header is waited for, so the device paces the transfer and every error
    shows; a wait ends at once when the sending thread is asked to exit, and a port closes on a thread
    of its own, since a driver may take its time to give headers back. */
class WinMidiPorts : public MidiPortList
{
public:
    juce::StringArray getOutputNames() override;
    Opened openOutput (int index) override;

    /** How long the device must still be listed after the last message before a transfer counts as
        delivered: the time Windows takes to take an unplugged device off its list, with a margin. */
    static constexpr int confirmationMilliseconds = 500;

private:
    juce::StringArray names; // the last list, in the order of the device numbers
};
