#include "ProgressClass.h"

static_assert (std::atomic<double>::is_always_lock_free,
               "progress is read by the message thread while written");

double wholePercentProgress (double fraction) noexcept
{
    const double rounded = juce::roundToInt (fraction * 100.0) / 100.0;

    // Rounding alone would show 100% at 99.5% of the bytes, with the last messages still to go.
    return fraction < 1.0 ? juce::jmin (rounded, 0.99) : rounded;
}

void ProgressClass::setProgress (double fraction)
{
    const double newProgress = wholePercentProgress (fraction);

    if (newProgress == progress.load())
        return;

    progress.store (newProgress);
    broadcastUnderMessageThreadLock();
}

void ProgressClass::broadcastUnderMessageThreadLock()
{
    // On the message thread the lock is gained at once.
    const juce::MessageManagerLock mmLock (juce::Thread::getCurrentThread());

    if (mmLock.lockWasGained())
        sendChangeMessage();
}

void ProgressClass::setStatus (const juce::String& newStatus)
{
    {
        const juce::ScopedLock sl (statusLock);

        if (status == newStatus)
            return;

        status = newStatus;
    }

    sendChangeMessage();
}

juce::String ProgressClass::getStatus() const
{
    const juce::ScopedLock sl (statusLock);
    return status;
}
