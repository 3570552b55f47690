#pragma once

#include "InterfaceBaseClass.h"
#include "MidiOutputPorts.h"

/** The MIDI output port chooser: a caption over a combo box listing the output ports found when it was
    built, with "(Disconnected)" first. It owns the port picked, sends messages through it, and
    broadcasts a change after every change of port. */
class MidiInterfaceClass : public InterfaceBaseClass, private juce::ComboBox::Listener
{
public:
    /** Lists the ports of portsToUse once; the program passes none and gets the platform's ports. */
    explicit MidiInterfaceClass (MidiOutputPorts& portsToUse = MidiOutputPorts::getPlatformPorts());
    ~MidiInterfaceClass() override;

    int read (juce::uint8* dest, unsigned int maxBytes) override;
    int write (const juce::uint8* bytes, int numBytes) override;
    bool isConnected() override;
    int getPreferredHeight() override;

    void resized() override;

private:
    void comboBoxChanged (juce::ComboBox* changedBox) override;

    MidiOutputPorts& ports;
    int numOutputs = 0;
    juce::StringArray outputNames;

    // Thread crossing: midiOutput is replaced only on the message thread (comboBoxChanged) and used by
    // the transfer thread in write(). Both hold portLock while they do, so a change of port waits for
    // the send in flight and no send ever uses a port that has been closed.
    juce::CriticalSection portLock;
    std::unique_ptr<MidiOutputPort> midiOutput;

    std::unique_ptr<juce::ComboBox> outputSelector;
    std::unique_ptr<juce::Label> outputLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MidiInterfaceClass)
};
