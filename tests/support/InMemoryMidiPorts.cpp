#include "InMemoryMidiPorts.h"

#include <thread>

class InMemoryMidiPorts::Port : public MidiOutputPort
{
public:
    Port (InMemoryMidiPorts& ownerToUse, Device& deviceToUse)
        : owner (ownerToUse)
        , device (deviceToUse)
    {
        device.isOpen = true;
        owner.logEvent ("open " + device.name);
    }

    ~Port() override
    {
        device.isOpen = false;
        owner.logEvent ((device.sendsInFlight > 0 ? "closed during a send to " : "close ") + device.name);
    }

    bool sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        if (device.goesAwayAfter >= 0 && (long) device.numMessages >= device.goesAwayAfter)
            device.gone = true;

        if (device.gone)
            return false;

        const SendInFlight inFlight (device);

        if (device.onSend)
            device.onSend();

        if (const int delay = device.microsecondsPerMessage; delay > 0)
            std::this_thread::sleep_for (std::chrono::microseconds (delay));

        if (device.keepMessages)
        {
            const std::lock_guard<std::mutex> guard (device.lock);
            device.messages.push_back ({ bytes, std::vector<juce::uint8> (bytes, bytes + numBytes) });
        }

        ++device.numMessages;
        return true;
    }

private:
    struct SendInFlight
    {
        explicit SendInFlight (Device& d)
            : device (d)
        {
            ++device.sendsInFlight;
        }
        ~SendInFlight() { --device.sendsInFlight; }
        Device& device;
    };

    InMemoryMidiPorts& owner;
    Device& device;
};

InMemoryMidiPorts::InMemoryMidiPorts (juce::StringArray names)
{
    for (const auto& name : names)
    {
        devices.push_back (std::make_unique<Device>());
        devices.back()->name = name;
    }
}

std::vector<InMemoryMidiPorts::Message> InMemoryMidiPorts::Device::getMessages() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return messages;
}

std::vector<juce::uint8> InMemoryMidiPorts::Device::getReceivedBytes() const
{
    const std::lock_guard<std::mutex> guard (lock);
    std::vector<juce::uint8> all;

    for (const auto& m : messages)
        all.insert (all.end(), m.bytes.begin(), m.bytes.end());

    return all;
}

juce::StringArray InMemoryMidiPorts::getEvents() const
{
    const std::lock_guard<std::mutex> guard (eventLock);
    return events;
}

juce::StringArray InMemoryMidiPorts::getOutputNames()
{
    juce::StringArray names;

    for (const auto& d : devices)
        names.add (d->name);

    return names;
}

std::unique_ptr<MidiOutputPort> InMemoryMidiPorts::openOutput (int index)
{
    if (! juce::isPositiveAndBelow (index, (int) devices.size()))
        return nullptr;

    auto& d = *devices[(size_t) index];

    if (d.refuseOpen)
    {
        logEvent ("refused " + d.name);
        return nullptr;
    }

    return std::make_unique<Port> (*this, d);
}

void InMemoryMidiPorts::logEvent (const juce::String& event)
{
    const std::lock_guard<std::mutex> guard (eventLock);
    events.add (event);
}
