#pragma once

#include "midi/MidiOutputPorts.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

/** MIDI output ports that live in memory: each records every message it is sent. A port can be made
    to refuse to open, to take a while per message, or to go away (its sends then fail). */
class InMemoryMidiPorts : public MidiOutputPorts
{
public:
    struct Message
    {
        const juce::uint8* source; // the pointer the sender handed over
        std::vector<juce::uint8> bytes;
    };

    /** The device behind one port name: what it received, and how it behaves. */
    struct Device
    {
        juce::String name;
        std::atomic<bool> refuseOpen { false };
        std::atomic<bool> gone { false };
        std::atomic<int> microsecondsPerMessage { 0 };
        std::atomic<bool> isOpen { false };
        std::atomic<int> sendsInFlight { 0 };
        std::atomic<long> goesAwayAfter { -1 };  // the port fails every send after this many messages
        std::atomic<bool> keepMessages { true }; // false: count messages without keeping their bytes
        std::atomic<size_t> numMessages { 0 };
        std::function<void()> onSend; // called on the sending thread before each message is taken

        std::vector<Message> getMessages() const;
        std::vector<juce::uint8> getReceivedBytes() const;
        size_t getNumMessages() const { return numMessages; }

        mutable std::mutex lock;
        std::vector<Message> messages; // guarded by lock: written on the sending thread, read by tests
    };

    explicit InMemoryMidiPorts (juce::StringArray names = {});

    Device& device (int index) { return *devices[(size_t) index]; }

    /** Every open and close, in order, as "open NAME" and "close NAME". */
    juce::StringArray getEvents() const;

    juce::StringArray getOutputNames() override;
    std::unique_ptr<MidiOutputPort> openOutput (int index) override;

private:
    class Port;

    void logEvent (const juce::String& event);

    std::vector<std::unique_ptr<Device>> devices;
    mutable std::mutex eventLock;
    juce::StringArray events; // guarded by eventLock
};
