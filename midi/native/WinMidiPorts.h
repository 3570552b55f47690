#pragma once

#include "midi/MidiPortList.h"
#include "midi/PortIdentity.h"

#include <vector>

/** The MIDI outputs of the Windows multimedia functions, as Windows names them, each device told from
    another of the same name by its Plug and Play interface path where its driver gives one (a device
    number moves when a device before it comes or goes). Each message goes out
    as a long message whose header is waited for, so the device paces the transfer and every error
    shows; a wait ends at once when the sending thread is asked to exit, and a port closes on a thread
    of its own, since a driver may take its time to give headers back. */
class WinMidiPorts : public MidiPortList
{
public:
    juce::StringArray getOutputNames() override;
    Opened openOutput (int index) override;
    PickedPort describePort (int index) override;
    FoundPort findDevice (const PickedPort& picked) override;

    /** How long the device must still be listed after the last message before a transfer counts as
        delivered: the time Windows takes to take an unplugged device off its list, with a margin. */
    static constexpr int confirmationMilliseconds = 500;

private:
    std::vector<ListedPort> listed; // the last list, in the order of the device numbers
};
