#pragma once

#include "midi/ExitRequestWatch.h"

#include <juce_events/juce_events.h>

/** The message-thread lock, taken from one worker thread again and again, that gives up as soon as
    the worker is asked to exit.

    It keeps one juce::MessageManager::Lock for the worker's whole life instead of a new
    juce::MessageManagerLock for every acquisition: in JUCE 7.0.5 the message thread can still be
    signalling a lock's event after the worker has taken the lock, released it and destroyed it, and a
    new lock made at the same stack address then shares that event's memory. A lock that lives as long
    as the worker cannot be destroyed under the message thread, and a late signal only wakes its next
    wait, which looks again before it goes on. */
class MessageThreadLock
{
public:
    explicit MessageThreadLock (juce::Thread& workerToWatch);

    /** Holds the lock for as long as it exists, when it was gained. */
    class ScopedAcquire
    {
    public:
        explicit ScopedAcquire (MessageThreadLock& lockToTake);
        ~ScopedAcquire();

        bool lockWasGained() const noexcept { return gained; }

    private:
        MessageThreadLock& owner;
        bool gained = false, onMessageThread = false;

        JUCE_DECLARE_NON_COPYABLE (ScopedAcquire)
    };

private:
    juce::Thread& worker;
    juce::MessageManager::Lock lock;
    const ExitRequestWatch exitWatch { worker, [this] { lock.abort(); } }; // ends a wait for the lock at once

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MessageThreadLock)
};
