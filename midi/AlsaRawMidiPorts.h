#pragma once

#include "MidiOutputPorts.h"

#include <string>
#include <vector>

/** The ALSA raw MIDI output ports of this machine. Each message is written with blocking writes, so
    the device paces the transfer: a send returns only once the device has taken the whole message.
    (The sequencer, which the framework sends through on Linux, drops data when a USB MIDI port's
    buffer is full and tells nobody.) */
class AlsaRawMidiPorts : public MidiOutputPorts
{
public:
    juce::StringArray getOutputNames() override;
    std::unique_ptr<MidiOutputPort> openOutput (int index) override;

private:
    std::vector<std::string> addresses; // "hw:C,D,S" of each port of the last list, in its order
};
