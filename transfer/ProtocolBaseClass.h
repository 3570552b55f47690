#pragma once

#include "MessageThreadLock.h"
#include "ProgressClass.h"
#include "firmware/FirmwareDescriptor.h"
#include "midi/InterfaceBaseClass.h"

/** A transfer of a firmware image to a device interface on a thread of its own, "Protocol Thread",
    with its progress published through the ProgressClass part. */
class ProtocolBaseClass : public juce::Thread, public ProgressClass
{
public:
    /** Where the current or last transfer stands. The status text follows from it. */
    enum class Outcome
    {
        none,          // no transfer yet
        uploading,     // under way (also one that was stopped)
        completed,     // every message sent, and the device was still there afterwards
        portFailed,    // the port went away or reported an error, or none was open
        deviceStopped, // the device stopped taking data
        imageDamaged   // the image breaks the framing rules
    };

    /** The status text published for an outcome. */
    static juce::String statusText (Outcome outcome);

    /** True for an outcome that ends a transfer that did not complete. */
    static bool isFailure (Outcome outcome) noexcept;

    /** Neither pointer is owned; both must outlive the thread. The thread is not started. */
    ProtocolBaseClass (InterfaceBaseClass* interfaceToUse, const FirmwareDescriptor* firmwareToSend);

    /** Does not stop the thread: every protocol stops it in its own destructor, before its parts go. */
    ~ProtocolBaseClass() override;

    void run() override = 0;

    /** Starts a transfer when none runs; resets the progress of one that has sent everything. */
    virtual void startTransfer();

    /** Asks the thread to exit and waits at most this long for it; true once it has ended. Every wait
        of the thread gives up on the request, so only a driver call that never returns keeps it. */
    bool stop (int timeoutMilliseconds);

    /** The outcome published last. Written by the transfer thread (and by startTransfer()), readable
        on any thread. */
    Outcome getOutcome() const noexcept { return outcome; }

    /** The outcome and its status text, as published together. */
    struct Published
    {
        Outcome outcome = Outcome::none;
        juce::String status;
    };

    /** Reads both at once, so that a reader never finds an outcome beside an earlier status. */
    Published getPublished() const;

protected:
    /** Records an outcome and publishes its status text, both under the status lock. */
    void publish (Outcome newOutcome);

    /** On the transfer thread, through the thread's own lock: gives up when the thread is asked to
        exit, so a stop is never held up here. */
    void broadcastUnderMessageThreadLock() override;

    /** Enables or disables the device interface under the message-thread lock. The wait for the lock
        gives up when this thread is asked to exit; then nothing is called and false is returned. */
    bool setInterfaceEnabled (bool shouldBeEnabled);

    /** Disables the device interface when something has enabled it, the only time the lock is
        taken; false when the wait for the lock gave up. */
    bool keepInterfaceDisabled();

    InterfaceBaseClass* deviceInterface = nullptr;
    const FirmwareDescriptor* firmware = nullptr;

private:
    std::atomic<Outcome> outcome { Outcome::none };
    MessageThreadLock messageThreadLock { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProtocolBaseClass)
};
