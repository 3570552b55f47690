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
    static constexpr const char* uploadingStatus = "Uploading firmware";
    static constexpr const char* completedStatus = "Update completed";
    static constexpr const char* portFailedStatus = "Update failed: the MIDI port was closed or disconnected";
    static constexpr const char* imageDamagedStatus = "Update failed: the firmware image is damaged";

    /** Neither pointer is owned; both must outlive the thread. The thread is not started. */
    ProtocolBaseClass (InterfaceBaseClass* interfaceToUse, const FirmwareDescriptor* firmwareToSend);

    /** Does not stop the thread: every protocol stops it in its own destructor, before its parts go. */
    ~ProtocolBaseClass() override;

    void run() override = 0;

    /** Starts a transfer when none runs; resets the progress of one that has sent everything. */
    virtual void startTransfer();

    /** True for a status that reports a transfer that did not complete. */
    static bool isFailureStatus (const juce::String& status);

protected:
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
    MessageThreadLock messageThreadLock { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProtocolBaseClass)
};
