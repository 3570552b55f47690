#include "RawMidiSender.h"

#include <algorithm>
#include <cerrno>

PortResult portResultOf (long error)
{
    switch (error)
    {
        case 0:
            return PortResult::ok;
        case -EIO:
            return PortResult::stalled;
        case -ECANCELED:
            return PortResult::abandoned;
        default:
            return PortResult::failed;
    }
}

PortResult sendRawMidiMessage (RawMidiStream& stream, const std::uint8_t* bytes, std::size_t size,
                               std::size_t maxBytesPerWrite)
{
    maxBytesPerWrite = std::max<std::size_t> (maxBytesPerWrite, 1);

    const auto drain = [&stream]
    {
        int drained;

        do
            drained = stream.drain();
        while (drained == -EINTR);

        return drained;
    };

    while (size > 0)
    {
        const long written = stream.write (bytes, std::min (size, maxBytesPerWrite));

        if (written == -EINTR)
            continue;

        // No room: wait until the device has taken what is there, then offer the bytes again.
        if (written == -EAGAIN)
        {
            if (const int drained = drain(); drained != 0)
                return portResultOf (drained);

            continue;
        }

        if (written <= 0)
            return PortResult::failed;

        // Drained before the next write: the kernel then transmits nothing that the next write has
        // published but not yet copied.
        if (const int drained = drain(); drained != 0)
            return portResultOf (drained);

        const auto taken = std::min (static_cast<std::size_t> (written), size);
        bytes += taken;
        size -= taken;
    }

    return PortResult::ok;
}

PortResult waitUntilNothingInFlight (RawMidiStream& stream, long limitMilliseconds)
{
    // Half the driver's time-out: a drain that waited for a transfer to finish early can take longer
    // than this and is simply repeated; one that timed out never takes less.
    constexpr long nothingInFlightBelow = usbMidiDriverDrainMilliseconds / 2;

    for (long waited = 0;;)
    {
        long took;

        do
            took = stream.drainDriver();
        while (took == -EINTR);

        if (took < 0)
            return portResultOf (took);

        if (took < nothingInFlightBelow)
            return PortResult::ok;

        waited += took;

        if (waited >= limitMilliseconds)
            return PortResult::stalled;
    }
}
