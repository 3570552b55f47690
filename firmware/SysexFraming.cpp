#include "SysexFraming.h"

#include <algorithm>

namespace sysex
{
MessageScan scanMessage (const std::uint8_t* begin, const std::uint8_t* end) noexcept
{
    if (begin == nullptr || begin >= end || *begin != startByte)
        return { MessageScan::Result::noStartByte, 0 };

    for (auto* p = begin + 1; p < end; ++p)
        if (*p == endByte)
            return { MessageScan::Result::complete, static_cast<std::size_t> (p - begin) + 1 };

    return { MessageScan::Result::noEndByte, 0 };
}

bool checkImage (const std::uint8_t* data, std::size_t size, ImageFault& fault) noexcept
{
    if (data == nullptr || size == 0)
    {
        fault = { ImageRule::notEmpty, 0 };
        return false;
    }

    std::size_t pos = 0;

    while (pos < size)
    {
        if (data[pos] != startByte)
        {
            // Stray bytes with no further message behind them trail the image; otherwise they stand
            // between two messages.
            const bool trailing = pos > 0 && std::find (data + pos, data + size, startByte) == data + size;
            fault = { trailing ? ImageRule::nothingAfterLastF7 : ImageRule::startsWithF0, pos };
            return false;
        }

        auto p = pos + 1;

        for (; p < size && data[p] != endByte; ++p)
        {
            if (data[p] > 0x7F)
            {
                fault = { ImageRule::sevenBitData, p };
                return false;
            }
        }

        if (p == size)
        {
            fault = { ImageRule::endsWithF7, pos };
            return false;
        }

        pos = p + 1;
    }

    return true;
}

const char* describe (ImageRule rule) noexcept
{
    switch (rule)
    {
        case ImageRule::notEmpty:
            return "the image is empty";
        case ImageRule::startsWithF0:
            return "a message does not start with F0";
        case ImageRule::sevenBitData:
            return "a byte above 7F inside a message";
        case ImageRule::endsWithF7:
            return "a message has no F7 before the end of the image";
        case ImageRule::nothingAfterLastF7:
            return "bytes after the last F7";
    }

    return "unknown rule";
}

std::vector<std::size_t> splitMessages (const std::uint8_t* data, std::size_t size)
{
    std::vector<std::size_t> lengths;
    const auto* end = data + size;

    for (auto scan = scanMessage (data, end); scan.result == MessageScan::Result::complete;
         scan = scanMessage (data, end))
    {
        lengths.push_back (scan.length);
        data += scan.length;
    }

    return lengths;
}

std::size_t countMessages (const std::uint8_t* data, std::size_t size)
{
    return splitMessages (data, size).size();
}
} // namespace sysex
