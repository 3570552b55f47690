#pragma once

#include "ProtocolBaseClass.h"

/** Sends the image as a plain stream of SysEx messages, one after the other, each exactly as stored,
    and waits for no reply. */
class BasicSysexProtocolClass : public ProtocolBaseClass
{
public:
    BasicSysexProtocolClass (InterfaceBaseClass* interfaceToUse, const FirmwareDescriptor* firmwareToSend);

    /** Stops the thread before anything it uses goes. */
    ~BasicSysexProtocolClass() override;

    /** On the message thread: starts a transfer from the first message when the thread is not running
        (the status reads "Uploading firmware" from then on). While the thread runs, changes nothing
        and broadcasts, so that listeners read the transfer's state again. */
    void startTransfer() override;

    void run() override;

private:
    /** Ends a transfer, completed or not: publishes the outcome, rewinds, gives the interface back;
        nothing of that when the thread is being stopped. */
    void finish (Outcome result);

    /** The outcome of a port that fell short: a device that stopped, or a port that failed. */
    Outcome portFailure() const;

    // Thread crossing: sentFraction is written by the transfer thread after every message and by
    // startTransfer() on the message thread; both hold fractionLock while they touch it.
    double sentFraction = 0.0;
    juce::CriticalSection fractionLock;

    const juce::uint8* readPosition = nullptr; // used by the transfer thread alone

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BasicSysexProtocolClass)
};
