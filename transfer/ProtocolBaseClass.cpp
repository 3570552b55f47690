#include "ProtocolBaseClass.h"

ProtocolBaseClass::ProtocolBaseClass (InterfaceBaseClass* interfaceToUse,
                                      const FirmwareDescriptor* firmwareToSend)
    : juce::Thread ("Protocol Thread")
    , deviceInterface (interfaceToUse)
    , firmware (firmwareToSend)
{
}

ProtocolBaseClass::~ProtocolBaseClass() = default;

void ProtocolBaseClass::startTransfer()
{
    if (! isThreadRunning())
    {
        setProgress (0.0);
        startThread (juce::Thread::Priority::low);
    }
    else if (progress.load() == 1.0)
    {
        setProgress (0.0);
    }
}

bool ProtocolBaseClass::stop (int timeoutMilliseconds)
{
    signalThreadShouldExit();
    return waitForThreadToExit (timeoutMilliseconds);
}

juce::String ProtocolBaseClass::statusText (Outcome outcome)
{
    // In the order of the enumeration.
    static const char* const texts[] = { "",
                                         "Uploading firmware",
                                         "Update completed",
                                         "Update failed: the MIDI port was closed or disconnected",
                                         "Update failed: the device stopped taking data",
                                         "Update failed: the firmware image is damaged" };

    return texts[static_cast<size_t> (outcome)];
}

bool ProtocolBaseClass::isFailure (Outcome outcome) noexcept
{
    return outcome == Outcome::portFailed || outcome == Outcome::deviceStopped ||
           outcome == Outcome::imageDamaged;
}

void ProtocolBaseClass::publish (Outcome newOutcome)
{
    // Thread crossing: the outcome and the status are written together by the transfer thread (and by
    // startTransfer() on the message thread) under the status lock, which getPublished() reads them
    // under; getOutcome() alone reads the atomic without it.
    const juce::ScopedLock sl (getStatusLock());
    outcome = newOutcome;
    setStatus (statusText (newOutcome));
}

ProtocolBaseClass::Published ProtocolBaseClass::getPublished() const
{
    const juce::ScopedLock sl (getStatusLock());
    return { outcome.load(), getStatus() };
}

void ProtocolBaseClass::broadcastUnderMessageThreadLock()
{
    const MessageThreadLock::ScopedAcquire mmLock (messageThreadLock);

    if (mmLock.lockWasGained())
        sendChangeMessage();
}

bool ProtocolBaseClass::setInterfaceEnabled (bool shouldBeEnabled)
{
    // Called on the transfer thread; the lock watches this thread's exit flag.
    const MessageThreadLock::ScopedAcquire mmLock (messageThreadLock);

    if (! mmLock.lockWasGained())
        return false;

    JUCE_ASSERT_MESSAGE_MANAGER_IS_LOCKED
    deviceInterface->setEnabled (shouldBeEnabled);
    return true;
}

bool ProtocolBaseClass::keepInterfaceDisabled()
{
    // The mirror is read without the lock: what enables the interface after this read is seen on the
    // next pass, as it was when the lock was taken on every pass.
    return ! deviceInterface->isEnabledMirror() || setInterfaceEnabled (false);
}
