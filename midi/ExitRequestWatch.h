#pragma once

#include <juce_core/juce_core.h>

#include <functional>

/** Lets a blocking wait inside a MIDI port end at once when the thread that waits is asked to exit.

    While it exists it watches the juce::Thread that made it: when another thread calls
    signalThreadShouldExit() on it, the wake function runs (on that other thread), and the port's wait,
    which also watches its own wake channel, looks at exitRequested() and gives up. On a thread that is
    not a juce::Thread it watches nothing and exitRequested() stays false. */
class ExitRequestWatch : private juce::Thread::Listener
{
public:
    explicit ExitRequestWatch (std::function<void()> wakeFunction);
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
