#include "BasicSysexProtocolClass.h"
#include "firmware/SysexFraming.h"

BasicSysexProtocolClass::BasicSysexProtocolClass (InterfaceBaseClass* interfaceToUse,
                                                  const FirmwareDescriptor* firmwareToSend)
    : ProtocolBaseClass (interfaceToUse, firmwareToSend)
{
}

BasicSysexProtocolClass::~BasicSysexProtocolClass()
{
    // Every wait of the thread gives up on an exit request, the port's included, so this wait is short;
    // only a driver call that never returns could keep it, and the program's window ends the process
    // before it gets here then. It has no limit: a thread killed in the middle of a send would go on to
    // use freed memory.
    stopThread (-1);
}

void BasicSysexProtocolClass::startTransfer()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! isThreadRunning())
    {
        {
            const juce::ScopedLock sl (fractionLock);
            sentFraction = 0.0;
            setProgress (0.0);
        }

        // A new transfer replaces what the last one reported at once, so that a listener never sees
        // the new transfer's 0% beside the last one's failure.
        publish (Outcome::uploading);
        startThread();
    }
    else
    {
        // The thread still runs, or finishes a transfer that has ended: nothing starts and nothing
        // changes. Listeners are told all the same, so that a screen that set its display back for a
        // new start shows this transfer's state again.
        sendChangeMessage();
    }
}

void BasicSysexProtocolClass::run()
{
    readPosition = firmware->data;
    const juce::uint32 total = firmware->size;
    const juce::uint8* const end = firmware->data + total;
    const juce::uint8* messageStart = firmware->data;
    juce::uint32 bytesSent = 0;

    publish (Outcome::uploading);

    double fraction;
    {
        const juce::ScopedLock sl (fractionLock);
        fraction = sentFraction;
    }

    while (fraction != 1.0)
    {
        if (threadShouldExit())
            return;

        // On every pass, so the interface stays disabled even if something else enabled it.
        if (! keepInterfaceDisabled())
            return;

        const auto scan = sysex::scanMessage (messageStart, end);

        if (scan.result != sysex::MessageScan::Result::complete)
        {
            finish (Outcome::imageDamaged);
            return;
        }

        const auto length = static_cast<int> (scan.length);
        readPosition = messageStart + scan.length;

        // The message goes out from inside the image, with no copy of its own.
        if (deviceInterface->write (messageStart, length) < length)
        {
            finish (portFailure());
            return;
        }

        messageStart = readPosition;
        bytesSent += static_cast<juce::uint32> (length);
        fraction = static_cast<double> (bytesSent) / static_cast<double> (total);

        // 100% only once the device has been seen to take the last message and to be there still.
        if (fraction == 1.0 && ! deviceInterface->confirmDelivery())
        {
            finish (portFailure());
            return;
        }

        setProgress (fraction);

        const juce::ScopedLock sl (fractionLock);
        sentFraction = fraction;
    }

    finish (Outcome::completed);
}

BasicSysexProtocolClass::Outcome BasicSysexProtocolClass::portFailure() const
{
    return deviceInterface->stoppedTakingData() ? Outcome::deviceStopped : Outcome::portFailed;
}

void BasicSysexProtocolClass::finish (Outcome result)
{
    // A transfer being stopped ends where it stands: no outcome, and the interface stays disabled.
    if (threadShouldExit())
        return;

    publish (result);
    readPosition = firmware->data;
    setInterfaceEnabled (true);
}
