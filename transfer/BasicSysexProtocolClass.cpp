#include "BasicSysexProtocolClass.h"
#include "firmware/SysexFraming.h"

BasicSysexProtocolClass::BasicSysexProtocolClass (InterfaceBaseClass* interfaceToUse,
                                                  const FirmwareDescriptor* firmwareToSend)
    : ProtocolBaseClass (interfaceToUse, firmwareToSend)
{
}

BasicSysexProtocolClass::~BasicSysexProtocolClass()
{
    // Every wait of the thread gives up on an exit request, so this never has to kill it.
    [[maybe_unused]] const bool stopped = stopThread (2000);
    jassert (stopped);
}

void BasicSysexProtocolClass::startTransfer()
{
    if (! isThreadRunning())
    {
        {
            const juce::ScopedLock sl (fractionLock);
            sentFraction = 0.0;
            setProgress (0.0);
        }

        // A new transfer replaces what the last one reported at once, so that a listener never sees
        // the new transfer's 0% beside the last one's failure.
        setStatus (uploadingStatus);
        startThread();
    }
    else
    {
        const juce::ScopedLock sl (fractionLock);

        if (sentFraction == 1.0)
        {
            sentFraction = 0.0;
            setProgress (0.0);
        }
    }
}

void BasicSysexProtocolClass::run()
{
    readPosition = firmware->data;
    const juce::uint32 total = firmware->size;
    const juce::uint8* const end = firmware->data + total;
    const juce::uint8* messageStart = firmware->data;
    juce::uint32 bytesSent = 0;

    setStatus (uploadingStatus);

    double fraction;
    {
        const juce::ScopedLock sl (fractionLock);
        fraction = sentFraction;
    }

    while (fraction != 1.0)
    {
        if (threadShouldExit())
            break;

        // On every pass, so the interface stays disabled even if something else enabled it.
        if (! setInterfaceEnabled (false))
            break;

        const auto scan = sysex::scanMessage (messageStart, end);

        if (scan.result != sysex::MessageScan::Result::complete)
        {
            finish (imageDamagedStatus);
            return;
        }

        const auto length = static_cast<int> (scan.length);
        readPosition = messageStart + scan.length;

        // The message goes out from inside the image, with no copy of its own.
        if (deviceInterface->write (messageStart, length) < length)
        {
            finish (portFailedStatus);
            return;
        }

        messageStart = readPosition;
        bytesSent += static_cast<juce::uint32> (length);
        fraction = static_cast<double> (bytesSent) / static_cast<double> (total);

        setProgress (fraction);

        const juce::ScopedLock sl (fractionLock);
        sentFraction = fraction;
    }

    // Completed only when every byte is out: not after an exit request, nor after a lock that could
    // not be had because the message loop is gone.
    if (threadShouldExit() || fraction != 1.0)
        return;

    finish (completedStatus);
}

void BasicSysexProtocolClass::finish (const char* outcome)
{
    setStatus (outcome);
    readPosition = firmware->data;
    setInterfaceEnabled (true);
}
