#pragma once

#include <juce_events/juce_events.h>

#include <atomic>

/** The fraction to publish for a fraction done: whole percent, rounded with juce::roundToInt (halves go
    to the even percent), but never 1.00 before the whole image is out: a fraction below 1.0 publishes
    at most 0.99. */
double wholePercentProgress (double fraction) noexcept;

/** Publishes how far a transfer has come and a short status text, and tells its listeners when
    either changes. */
class ProgressClass : public juce::ChangeBroadcaster
{
public:
    ProgressClass() = default;
    virtual ~ProgressClass() = default;

    /** Publishes a fraction done (0 to 1), rounded to whole percent; broadcasts only when the rounded
        value changes. */
    void setProgress (double fraction);

    /** Publishes a status text; broadcasts only when it changes. */
    void setStatus (const juce::String& newStatus);

    juce::String getStatus() const;

protected:
    /** The lock the status is written and read under; a subclass holds it to publish more with it. */
    const juce::CriticalSection& getStatusLock() const noexcept { return statusLock; }

    /** Sends the change message while holding the message-thread lock; a lock not gained sends
        nothing. This one waits for the lock as long as it takes unless the calling thread is asked to
        exit; a transfer object takes it through its own long-lived lock. */
    virtual void broadcastUnderMessageThreadLock();

private:
    // Thread crossing: the status is written on the transfer thread and read on the message thread;
    // both hold statusLock while they touch it.
    juce::CriticalSection statusLock;
    juce::String status;

public:
    /** The fraction done, in whole percent (0.00 to 1.00). Thread crossing: written on the transfer
        thread (and on the message thread when a transfer starts), read by listeners on the message
        thread. A lock-free atomic, so a read never sees a half-written value. */
    std::atomic<double> progress { 0.0 };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProgressClass)
};
