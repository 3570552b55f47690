#pragma once

#include "midi/MidiPortList.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

/** MIDI output ports that live in memory: each records every message it is sent. A port can be made
    to refuse to open (held by another program, not allowed, or failing), to be missing from the list, to take
   a while per message, to go away (its sends then fail), to stop taking data, to fail the check after the
   last message, or to hold a send or that check until released. A held call waits like a device that has
   stopped taking data: until it is released or its thread is asked to exit. */
class InMemoryMidiPorts : public MidiPortList
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
        // What names the device where the platform tells it; empty for none. Set by the test on the
        // message thread, where lists are taken.
        std::string identity;
        std::atomic<int> unansweredLists { 0 };   // the next lists taken leave it out, incomplete
        std::atomic<int> unidentifiedLists { 0 }; // the next lists taken list it without its identity
        std::atomic<bool> refuseOpen { false };   // the open fails
        std::atomic<bool> inUse { false };        // the open finds the port held by another program
        std::atomic<bool> notAllowed { false };   // the open is refused to this user
        std::atomic<bool> present { true };       // false: neither listed nor found when opened
        std::atomic<bool> gone { false };
        std::atomic<int> restarts { 0 }; // each restart leaves the ports opened before it dead
        // The device stops taking data after this many messages: later sends, and the check after the
        // last message, fail as stalled.
        std::atomic<long> stopsTakingDataAfter { -1 };
        std::atomic<int> microsecondsPerMessage { 0 };
        std::atomic<bool> isOpen { false };
        std::atomic<long> goesAwayAfter { -1 };  // the port fails every send after this many messages
        std::atomic<bool> keepMessages { true }; // false: count messages without keeping their bytes
        std::atomic<bool> failsConfirmation { false };
        std::atomic<size_t> numMessages { 0 };
        std::atomic<int> numConfirmations { 0 };
        // The send of this message never returns, whatever is asked of its thread: a driver call that
        // hangs. Only a process that ends gets past it.
        std::atomic<long> hangsAtMessage { -1 };
        std::atomic<bool> hanging { false };

        // Messages taken by a sending thread that had already been asked to exit: at most the one in
        // flight when the request came.
        std::atomic<int> takenAfterExitRequest { 0 };
        std::function<void()> onSend; // called on the sending thread before each message is taken

        /** Holds the send of the message with this index (0 for the first), or the check after the
            last message, until release(). */
        void holdBeforeMessage (long index);
        void holdConfirmation();
        void release();
        bool isHolding() const { return holding; }
        bool hasStopped() const
        {
            return stopsTakingDataAfter >= 0 && (long) numMessages >= stopsTakingDataAfter;
        }

        std::vector<Message> getMessages() const;
        std::vector<juce::uint8> getReceivedBytes() const;
        size_t getNumMessages() const { return numMessages; }

        /** On the sending thread: waits while the hold applies; false when the thread was asked to
            exit instead. */
        bool waitWhileHeld (const std::function<bool()>& holds);

        mutable std::mutex lock;
        std::vector<Message> messages; // guarded by lock: written on the sending thread, read by tests

        // Thread crossing: the hold is set and released by the test, and waited for by the sending
        // thread, all under holdLock; the sending thread first looks at it without the lock, and the
        // test reads holding without it.
        std::mutex holdLock;
        std::condition_variable holdChanged;
        std::atomic<long> heldMessage { -1 };
        std::atomic<bool> heldConfirmation { false };
        std::atomic<bool> holding { false };
    };

    explicit InMemoryMidiPorts (juce::StringArray names = {});

    Device& device (int index) { return *devices[(size_t) index]; }

    /** A device plugged in after the ports were made, present from now on. On the message thread. */
    Device& plugIn (const juce::String& name, const std::string& identity);

    /** Every open and close, in order, as "open NAME" and "close NAME" ("closed during a send to
        NAME" when a send was held at the time). */
    juce::StringArray getEvents() const;

    /** Lists the devices present; openOutput indexes this list. */
    juce::StringArray getOutputNames() override;
    Opened openOutput (int index) override;
    PickedPort describePort (int index) override;
    FoundPort findDevice (const PickedPort& picked) override;

    /** How many lists have been taken since the ports were made (the chooser's and each look). */
    int getNumListsTaken() const { return numListsTaken; }

private:
    class Port;

    /** The devices present now, each at its index among all devices as its address. */
    PortScan scanNow();

    void logEvent (const juce::String& event);

    std::vector<std::unique_ptr<Device>> devices;
    std::vector<ListedPort> listed; // the last list taken
    std::atomic<int> numListsTaken { 0 };
    mutable std::mutex eventLock;
    juce::StringArray events; // guarded by eventLock
};
