#include "MidiOutputPorts.h"

#if JUCE_LINUX
#include "AlsaRawMidiPorts.h"
#endif

namespace
{
class FrameworkOutputPort : public MidiOutputPort
{
public:
    explicit FrameworkOutputPort (std::unique_ptr<juce::MidiOutput> outputToUse)
        : output (std::move (outputToUse))
    {
    }

    bool sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        // The message copies the bytes once; a message that starts with F0 goes out as one SysEx.
        output->sendMessageNow (juce::MidiMessage (bytes, numBytes, 0.0));
        return true;
    }

    // The framework reports nothing of a send or of the device, so there is nothing to look at.
    bool confirmDelivery() override { return true; }

private:
    std::unique_ptr<juce::MidiOutput> output;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FrameworkOutputPort)
};

class FrameworkOutputPorts : public MidiOutputPorts
{
public:
    juce::StringArray getOutputNames() override
    {
        devices = juce::MidiOutput::getAvailableDevices();

        juce::StringArray names;

        for (const auto& device : devices)
            names.add (device.name);

        return names;
    }

    std::unique_ptr<MidiOutputPort> openOutput (int index) override
    {
        if (! juce::isPositiveAndBelow (index, devices.size()))
            return nullptr;

        if (auto output = juce::MidiOutput::openDevice (devices.getReference (index).identifier))
            return std::make_unique<FrameworkOutputPort> (std::move (output));

        return nullptr;
    }

private:
    juce::Array<juce::MidiDeviceInfo> devices;
};
} // namespace

MidiOutputPorts& MidiOutputPorts::getFrameworkPorts()
{
    static FrameworkOutputPorts ports;
    return ports;
}

MidiOutputPorts& MidiOutputPorts::getPlatformPorts()
{
#if JUCE_LINUX
    static AlsaRawMidiPorts ports;
    return ports;
#else
    return getFrameworkPorts();
#endif
}
