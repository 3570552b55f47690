#include "MidiInterfaceClass.h"

MidiInterfaceClass::MidiInterfaceClass (MidiPortList& portsToUse)
    : ports (portsToUse)
{
    outputSelector = std::make_unique<juce::ComboBox> ("Output Selector");
    addAndMakeVisible (outputSelector.get());
    outputSelector->setColour (juce::ComboBox::buttonColourId, juce::Colours::white);

    outputLabel = std::make_unique<juce::Label> (juce::String(), "Select an output device:");
    outputLabel->attachToComponent (outputSelector.get(), false);

    // A port plugged in later shows after a restart, or once a pick finds its device gone.
    listPorts();

    // The notification is asynchronous, so it reaches the listener added below, and through this
    // component's broadcast whoever listens once the message loop runs.
    outputSelector->setSelectedId (numOutputs + 1, juce::sendNotificationAsync);
    outputSelector->addListener (this);
}

MidiInterfaceClass::~MidiInterfaceClass()
{
    cancelPendingUpdate();
    outputSelector->removeListener (this);

    // Children first (the caption and the selector), then the port, as the members are declared.
    outputLabel = nullptr;
    outputSelector = nullptr;

    const juce::ScopedLock sl (portLock);
    midiOutput = nullptr;
}

void MidiInterfaceClass::listPorts()
{
    outputNames = ports.getOutputNames();
    numOutputs = outputNames.size();

    outputSelector->clear (juce::dontSendNotification);
    outputSelector->addItem ("(Disconnected)", numOutputs + 1);

    // A separator line between "(Disconnected)" and the ports; none when there are no ports.
    if (numOutputs > 0)
        outputSelector->addSeparator();

    for (int i = 0; i < numOutputs; ++i)
        outputSelector->addItem (outputNames[i], i + 1);
}

int MidiInterfaceClass::read (juce::uint8*, unsigned int)
{
    // Part of the device interface; nothing calls it: no input port is ever opened.
    return 0;
}

int MidiInterfaceClass::write (const juce::uint8* bytes, int numBytes)
{
    const juce::ScopedLock sl (portLock);

    if (midiOutput == nullptr || portState != PortResult::ok || numBytes <= 0)
        return 0;

    return checkPort (midiOutput->sendMessage (bytes, numBytes)) ? numBytes : 0;
}

bool MidiInterfaceClass::confirmDelivery()
{
    const juce::ScopedLock sl (portLock);
    return midiOutput != nullptr && portState == PortResult::ok && checkPort (midiOutput->confirmDelivery());
}

bool MidiInterfaceClass::stoppedTakingData()
{
    return portState == PortResult::stalled;
}

bool MidiInterfaceClass::checkPort (PortResult result)
{
    // A wait given up because the transfer is being stopped says nothing about the port.
    if (result == PortResult::stalled || result == PortResult::failed)
    {
        portState = result;
        triggerAsyncUpdate();
    }

    return result == PortResult::ok;
}

void MidiInterfaceClass::handleAsyncUpdate()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (portState != PortResult::ok)
        outputSelector->setSelectedId (numOutputs + 1, juce::sendNotificationSync);
}

bool MidiInterfaceClass::isConnected()
{
    // Read on the message thread, the only thread that replaces midiOutput.
    JUCE_ASSERT_MESSAGE_THREAD
    return midiOutput != nullptr && portState == PortResult::ok;
}

int MidiInterfaceClass::getPreferredHeight()
{
    return 50;
}

void MidiInterfaceClass::resized()
{
    // The caption is attached to the selector and follows it in the band above y 20.
    outputSelector->setBounds (0, 20, getWidth(), 30);
}

void MidiInterfaceClass::comboBoxChanged (juce::ComboBox* changedBox)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (changedBox != outputSelector.get())
        return;

    const int id = outputSelector->getSelectedId();

    if (id >= 1 && id <= numOutputs)
    {
        {
            const juce::ScopedLock sl (portLock);
            midiOutput = nullptr; // the old port is closed before the new one opens
            portState = PortResult::ok;
            auto opened = ports.openOutput (id - 1);
            midiOutput = std::move (opened.port);
            openProblem = opened.problem;
        }

        // A port held by another program, or a device that is gone or can no longer be told from
        // another of its name: back to "(Disconnected)", so that picking it again tries again. A
        // device not found is looked for in a list taken anew.
        if (openProblem == MidiPortList::OpenProblem::notPresent)
            listPorts();

        if (openProblem == MidiPortList::OpenProblem::inUse ||
            openProblem == MidiPortList::OpenProblem::notPresent)
            outputSelector->setSelectedId (numOutputs + 1, juce::dontSendNotification);
    }
    else if (id == numOutputs + 1)
    {
        const juce::ScopedLock sl (portLock);
        midiOutput = nullptr;
        portState = PortResult::ok;
        openProblem = MidiPortList::OpenProblem::none;
    }
    else
    {
        return;
    }

    sendChangeMessage();
}
