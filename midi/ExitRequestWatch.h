#pragma once

#include <juce_core/juce_core.h>

#include <functional>

/** Lets a blocking wait end at once when the thread it waits for is asked to exit: the waits of a MIDI
    port, and a worker's wait for the message-thread lock.

    While it exists it watches a juce::Thread, the one that made it unless another is given: when a
    thread calls signalThreadShouldExit() on it, the wake function runs (on that thread), and the wait,
    which also watches its own wake channel, looks at exitRequested() and gives up. Made on a thread
    that is not a juce::Thread, it watches nothing and exitRequested() stays false. */
class ExitRequestWatch : private juce::Thread::Listener
{
public:
    /** Watches the calling thread. */
    explicit ExitRequestWatch (std::function<void()> wakeFunction);

    /** Watches the given thread. */
    ExitRequestWatch (juce::Thread& threadToWatch, std::function<void()> wakeFunction);
    ~ExitRequestWatch() override;

    bool exitRequested() const;

private:
    void exitSignalSent() override;

    // Thread crossing: exitSignalSent() runs on the thread that asks for the exit, inside the watched
    // thread's listener lock; the destructor removes this listener under the same lock, so the wake
    // function never runs once the watch is gone.
    juce::Thread* const thread;
    const std::function<void()> wake;

    JUCE_DECLARE_NON_COPYABLE (ExitRequestWatch)
};
