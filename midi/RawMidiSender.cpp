#include "RawMidiSender.h"

#include <algorithm>
#include <cerrno>

bool sendRawMidiMessage (RawMidiStream& stream, const std::uint8_t* bytes, std::size_t size,
                         std::size_t maxBytesPerWrite)
{
    maxBytesPerWrite = std::max<std::size_t> (maxBytesPerWrite, 1);

    while (size > 0)
    {
        const long written = stream.write (bytes, std::min (size, maxBytesPerWrite));

        if (written == -EINTR || written == -EAGAIN)
            continue;

        if (written <= 0)
            return false;

        // Drained before the next write: the kernel then transmits nothing that the next write has
        // published but not yet copied.
        int drained;

        do
            drained = stream.drain();
        while (drained == -EINTR || drained == -EAGAIN);

        if (drained < 0)
            return false;

        bytes += written;
        size -= static_cast<std::size_t> (std::min<long> (written, static_cast<long> (size)));
    }

    return true;
}

std::string rawMidiPortName (const std::string& deviceName, const std::string& subdeviceName,
                             unsigned int subdeviceCount, int card, int device, int subdevice)
{
    auto name = deviceName.empty() ? std::string ("MIDI") : deviceName;

    if (subdeviceCount > 1 && ! subdeviceName.empty() && subdeviceName != deviceName)
        name = subdeviceName;

    return name + " (hw:" + std::to_string (card) + "," + std::to_string (device) + "," +
           std::to_string (subdevice) + ")";
}
