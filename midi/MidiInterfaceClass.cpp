#include "MidiInterfaceClass.h"

namespace
{
/** The port selector, which assistive technology hears by its title ("MIDI output port") with the
    port shown as its value; the framework's own combo box is titled by the entry it shows. */
class PortSelector : public juce::ComboBox
{
public:
    using juce::ComboBox::ComboBox;

private:
    struct ShownPort : public juce::AccessibilityTextValueInterface
    {
        explicit ShownPort (juce::ComboBox& boxToRead)
            : box (boxToRead)
        {
        }

        bool isReadOnly() const override { return true; }
        juce::String getCurrentValueAsString() const override { return box.getText(); }
        void setValueAsString (const juce::String&) override {}

        juce::ComboBox& box;
    };

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override
    {
        return std::make_unique<juce::AccessibilityHandler> (
            *this, juce::AccessibilityRole::comboBox,
            juce::AccessibilityActions()
                .addAction (juce::AccessibilityActionType::press, [this] { showPopup(); })
                .addAction (juce::AccessibilityActionType::showMenu, [this] { showPopup(); }),
            juce::AccessibilityHandler::Interfaces { std::make_unique<ShownPort> (*this) });
    }
};
} // namespace

MidiInterfaceClass::MidiInterfaceClass (MidiPortList& portsToUse)
    : ports (portsToUse)
{
    // The ports are listed first, then the selector is built and filled with them. A port plugged in
    // later shows after a restart, or once a pick finds its device gone.
    takePortList();

    outputSelector = std::make_unique<PortSelector> ("Output Selector");
    addAndMakeVisible (outputSelector.get());
    outputSelector->setColour (juce::ComboBox::buttonColourId, juce::Colours::white);
    outputSelector->setTitle ("MIDI output port");
    outputSelector->setDescription (
        "The port of the device to update. Once it is open, the update button turns green.");

    outputLabel = std::make_unique<juce::Label> (juce::String(), "Select an output device:");
    outputLabel->attachToComponent (outputSelector.get(), false);

    fillSelector();

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

void MidiInterfaceClass::takePortList()
{
    outputNames = ports.getOutputNames();
    numOutputs = outputNames.size();
}

void MidiInterfaceClass::fillSelector()
{
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
    deliveredUpdate =
        midiOutput != nullptr && portState == PortResult::ok && checkPort (midiOutput->confirmDelivery());
    return deliveredUpdate;
}

bool MidiInterfaceClass::stoppedTakingData()
{
    return stalled;
}

bool MidiInterfaceClass::checkPort (PortResult result)
{
    // A wait given up because the transfer is being stopped says nothing about the port.
    if (result == PortResult::stalled || result == PortResult::failed)
    {
        portState = result;
        stalled = result == PortResult::stalled;
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

int MidiInterfaceClass::getOpenPortIndex()
{
    const int id = outputSelector->getSelectedId();
    return isConnected() && id >= 1 && id <= numOutputs ? id - 1 : -1;
}

PickedPort MidiInterfaceClass::getOpenDevice()
{
    return getOpenPortIndex() >= 0 ? openDevice : PickedPort();
}

void MidiInterfaceClass::followRestart (const RestartWatch& watch)
{
    JUCE_ASSERT_MESSAGE_THREAD
    const auto state = watch.getState();

    // A port picked since the update (before the change that ends the watch has arrived) stays open.
    if (state == RestartWatch::State::away && getOpenPortIndex() >= 0 && openDevice == watch.getDevice())
    {
        outputSelector->setSelectedId (numOutputs + 1, juce::sendNotificationSync);
    }
    else if (state == RestartWatch::State::restarted && midiOutput == nullptr)
    {
        // An open list still holds the old entries, whose IDs would name other ports in the new list.
        outputSelector->hidePopup();
        takePortList();
        fillSelector();
        outputSelector->setSelectedId (numOutputs + 1, juce::dontSendNotification);

        // A pick made while it was away found nothing; that is no longer so.
        openProblem = MidiPortList::OpenProblem::none;
        openErrorText = {};
        sendChangeMessage();
    }
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
        openPortOf (id);
    }
    else if (id == numOutputs + 1)
    {
        const juce::ScopedLock sl (portLock);
        midiOutput = nullptr;
        portState = PortResult::ok;
        openProblem = MidiPortList::OpenProblem::none;
        openErrorText = {};
    }
    else
    {
        return;
    }

    sendChangeMessage();
}

void MidiInterfaceClass::reopenPortAfterUpdate()
{
    JUCE_ASSERT_MESSAGE_THREAD
    bool delivered = false;
    {
        const juce::ScopedLock sl (portLock);
        delivered = deliveredUpdate;
    }

    if (const int index = getOpenPortIndex(); index >= 0 && delivered)
    {
        openPortOf (index + 1);
        sendChangeMessage();
    }
}

void MidiInterfaceClass::openPortOf (int id)
{
    {
        const juce::ScopedLock sl (portLock);
        midiOutput = nullptr; // the old port is closed before the new one opens
        portState = PortResult::ok;
        stalled = false;
        deliveredUpdate = false;
        openDevice = ports.describePort (id - 1);
        auto opened = ports.openOutput (id - 1);
        midiOutput = std::move (opened.port);
        openProblem = midiOutput != nullptr                               ? MidiPortList::OpenProblem::none
                      : opened.problem != MidiPortList::OpenProblem::none ? opened.problem
                                                                          : MidiPortList::OpenProblem::failed;
        openErrorText = opened.errorText;
    }

    // A port that did not open: back to "(Disconnected)", so that picking it again tries again (the
    // selector announces no pick of the entry it already shows). A device that is gone, or can no
    // longer be told from another of its name, is looked for in a list taken anew.
    if (openProblem == MidiPortList::OpenProblem::notPresent)
    {
        takePortList();
        fillSelector();
    }

    if (midiOutput == nullptr)
        outputSelector->setSelectedId (numOutputs + 1, juce::dontSendNotification);
}
