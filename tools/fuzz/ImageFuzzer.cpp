// libFuzzer target for the image checker and the splitter: for any bytes at all, the checker accepts
// exactly the images that split into complete messages (F0, seven-bit bytes, F7) covering them to the
// last byte, and neither ever reads past the end (each input lies in a block of exactly its size).

#include "firmware/SysexFraming.h"

#include <cstdlib>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    const auto block = std::make_unique<std::uint8_t[]> (size);
    std::copy (data, data + size, block.get());
    const auto* image = block.get();

    sysex::ImageFault fault {};
    const bool accepted = sysex::checkImage (image, size, fault);
    const auto lengths = sysex::splitMessages (image, size);

    std::size_t offset = 0;
    bool sevenBit = true;

    for (const auto length : lengths)
    {
        if (length < 2 || image[offset] != sysex::startByte || image[offset + length - 1] != sysex::endByte)
            std::abort(); // a message that is not one

        for (std::size_t i = offset + 1; i + 1 < offset + length; ++i)
        {
            if (image[i] == sysex::endByte)
                std::abort(); // the split went past a message's first F7

            sevenBit = sevenBit && image[i] <= 0x7F;
        }

        offset += length;
    }

    const bool wellFormed = size > 0 && offset == size && sevenBit;

    if (accepted != wellFormed)
        std::abort();

    if (! accepted && (size == 0 ? fault.offset != 0 : fault.offset >= size))
        std::abort(); // a fault must point inside the image

    return 0;
}
