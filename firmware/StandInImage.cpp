#include "StandInImage.h"

namespace standin
{
const std::vector<MessageRun>& layout()
{
    static const std::vector<MessageRun> runs {
        { 0x7E, 0x7E, 17, 1, true }, { 0x51, 0x00, 9, 1, true },       { 0x52, 0x02, 40, 1, true },
        { 0x51, 0x00, 9, 1, true },  { 0x52, 0x02, 40, 1, true },      { 0x52, 0x00, 1148, 1, false },
        { 0x52, 0x02, 40, 1, true }, { 0x52, 0x00, 504, 2686, false }, { 0x52, 0x00, 125, 1, false },
        { 0x52, 0x02, 40, 1, true }, { 0x52, 0x01, 9, 1, true },
    };
    return runs;
}

std::vector<std::uint8_t> makeImage()
{
    std::vector<std::uint8_t> image;
    image.reserve (1355221);

    // xorshift32: fully specified here, so the bytes are the same with every compiler and library.
    std::uint32_t state = dataSeed;
    auto nextDataByte = [&state]
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<std::uint8_t> (state & 0x7F);
    };

    for (const auto& run : layout())
    {
        for (std::size_t n = 0; n < run.count; ++n)
        {
            image.push_back (0xF0);
            image.insert (image.end(), std::begin (manufacturerId), std::end (manufacturerId));
            image.insert (image.end(), std::begin (deviceBytes), std::end (deviceBytes));
            image.push_back (run.command);
            image.push_back (run.subCommand);

            for (std::size_t i = framingBytes; i < run.length; ++i)
                image.push_back (run.zeroBody ? 0 : nextDataByte());

            image.push_back (0xF7);
        }
    }

    return image;
}
} // namespace standin
