#include "RawMidiSender.h"

#include <algorithm>
#include <cerrno>

bool sendRawMidiMessage (RawMidiStream& stream, const std::uint8_t* bytes, std::size_t size,
                         std::size_t maxBytesPerWrite)
{
    maxBytesPerWrite = std::max<std::size_t> (maxBytesPerWrite, 1);

    const auto drain = [&stream]
    {
        int drained;

        do
            drained = stream.drain();
        while (drained == -EINTR);

        return drained == 0;
    };

    while (size > 0)
    {
        const long written = stream.write (bytes, std::min (size, maxBytesPerWrite));

        if (written == -EINTR)
            continue;

        // No room: wait until the device has taken what is there, then offer the bytes again.
        if (written == -EAGAIN)
        {
            if (! drain())
                return false;

            continue;
        }

        // Drained before the next write: the kernel then transmits nothing that the next write has
        // published but not yet copied.
        if (written <= 0 || ! drain())
            return false;

        const auto taken = std::min (static_cast<std::size_t> (written), size);
        bytes += taken;
        size -= taken;
    }

    return true;
}

std::string rawMidiPortBaseName (const std::string& deviceName, const std::string& subdeviceName,
                                 unsigned int subdeviceCount)
{
    if (subdeviceCount > 1 && ! subdeviceName.empty() && subdeviceName != deviceName)
        return subdeviceName;

    return deviceName.empty() ? std::string ("MIDI") : deviceName;
}

std::string rawMidiAddress (int card, int device, int subdevice)
{
    return "hw:" + std::to_string (card) + "," + std::to_string (device) + "," + std::to_string (subdevice);
}
