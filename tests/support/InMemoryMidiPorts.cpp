#include "InMemoryMidiPorts.h"
#include "midi/ExitRequestWatch.h"

#include <future>
#include <thread>

class InMemoryMidiPorts::Port : public MidiOutputPort
{
public:
    Port (InMemoryMidiPorts& ownerToUse, Device& deviceToUse)
        : owner (ownerToUse)
        , device (deviceToUse)
        , restartsAtOpen (deviceToUse.restarts.load())
    {
        device.isOpen = true;
        owner.logEvent ("open " + device.name);
    }

    ~Port() override
    {
        device.isOpen = false;
        owner.logEvent ((device.holding ? "closed during a send to " : "close ") + device.name);
    }

    PortResult sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        if (device.goesAwayAfter >= 0 && (long) device.numMessages >= device.goesAwayAfter)
            device.gone = true;

        if (device.gone || device.restarts != restartsAtOpen)
            return PortResult::failed;

        if (device.hasStopped())
            return PortResult::stalled;

        const auto index = (long) device.numMessages;

        if (index == device.hangsAtMessage)
        {
            device.hanging = true;
            std::promise<void>().get_future().wait();
        }

        if (! device.waitWhileHeld ([&] { return device.heldMessage == index; }))
            return PortResult::abandoned;

        if (juce::Thread::currentThreadShouldExit())
            ++device.takenAfterExitRequest;

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
        return PortResult::ok;
    }

    PortResult confirmDelivery() override
    {
        if (! device.waitWhileHeld ([&] { return device.heldConfirmation.load(); }))
            return PortResult::abandoned;

        ++device.numConfirmations;

        if (device.hasStopped())
            return PortResult::stalled;

        return device.gone || device.failsConfirmation ? PortResult::failed : PortResult::ok;
    }

private:
    InMemoryMidiPorts& owner;
    Device& device;
    const int restartsAtOpen; // a port opened before the device last restarted is dead
};

void InMemoryMidiPorts::Device::holdBeforeMessage (long index)
{
    const std::lock_guard<std::mutex> guard (holdLock);
    heldMessage = index;
}

void InMemoryMidiPorts::Device::holdConfirmation()
{
    const std::lock_guard<std::mutex> guard (holdLock);
    heldConfirmation = true;
}

void InMemoryMidiPorts::Device::release()
{
    const std::lock_guard<std::mutex> guard (holdLock);
    heldMessage = -1;
    heldConfirmation = false;
    holdChanged.notify_all();
}

bool InMemoryMidiPorts::Device::waitWhileHeld (const std::function<bool()>& holds)
{
    if (heldMessage < 0 && ! heldConfirmation)
        return true;

    // The watch outlives the lock: its wake takes the lock from the thread that asks for the exit.
    const ExitRequestWatch watch (
        [this]
        {
            const std::lock_guard<std::mutex> guard (holdLock);
            holdChanged.notify_all();
        });

    std::unique_lock<std::mutex> guard (holdLock);

    if (! holds())
        return true;

    holding = true;
    holdChanged.wait (guard, [&] { return ! holds() || watch.exitRequested(); });
    holding = false;
    return ! watch.exitRequested();
}

InMemoryMidiPorts::InMemoryMidiPorts (juce::StringArray names)
{
    for (const auto& name : names)
    {
        devices.push_back (std::make_unique<Device>());
        devices.back()->name = name;
    }

    getOutputNames();
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

InMemoryMidiPorts::Device& InMemoryMidiPorts::plugIn (const juce::String& name, const std::string& identity)
{
    devices.push_back (std::make_unique<Device>());
    devices.back()->name = name;
    devices.back()->identity = identity;
    return *devices.back();
}

PortScan InMemoryMidiPorts::scanNow()
{
    PortScan scan;
    ++numListsTaken;

    for (size_t i = 0; i < devices.size(); ++i)
    {
        auto& d = *devices[i];

        if (! d.present)
            continue;

        if (d.unansweredLists > 0)
        {
            --d.unansweredLists;
            scan.complete = false;
            continue;
        }

        const bool identified = d.unidentifiedLists <= 0;

        if (! identified)
            --d.unidentifiedLists;

        scan.ports.push_back (
            { std::to_string (i), d.name.toStdString(), identified ? d.identity : std::string() });
    }

    return scan;
}

juce::StringArray InMemoryMidiPorts::getOutputNames()
{
    listed = scanNow().ports;
    juce::StringArray names;

    for (const auto& port : listed)
        names.add (juce::String (port.name));

    return names;
}

PickedPort InMemoryMidiPorts::describePort (int index)
{
    return describePick (listed, index);
}

FoundPort InMemoryMidiPorts::findDevice (const PickedPort& picked)
{
    return findPickedPort (picked, scanNow());
}

MidiPortList::Opened InMemoryMidiPorts::openOutput (int index)
{
    const auto present = scanNow();
    const auto found = findPickedPort (describePort (index), present);

    if (found.presence != Presence::present)
        return { nullptr, OpenProblem::notPresent };

    auto& d = *devices[(size_t) std::stoul (present.ports[(size_t) found.index].address)];

    if (d.refuseOpen || d.inUse || d.notAllowed)
    {
        logEvent ("refused " + d.name);

        if (d.inUse || d.notAllowed)
            return { nullptr, d.inUse ? OpenProblem::inUse : OpenProblem::notAllowed };

        return { nullptr, OpenProblem::failed, "Input/output error" };
    }

    return { std::make_unique<Port> (*this, d) };
}

void InMemoryMidiPorts::logEvent (const juce::String& event)
{
    const std::lock_guard<std::mutex> guard (eventLock);
    events.add (event);
}
