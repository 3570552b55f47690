#include "firmware/FirmwareDescriptor.h"
#include "firmware/StandInImage.h"
#include "firmware/SysexFraming.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <numeric>
#include <set>

namespace
{
using Bytes = std::vector<std::uint8_t>;

// Copies the bytes to a block of exactly their size, so that AddressSanitizer sees a read past the end.
std::unique_ptr<std::uint8_t[]> exactCopy (const Bytes& bytes)
{
    auto block = std::make_unique<std::uint8_t[]> (bytes.size());
    std::copy (bytes.begin(), bytes.end(), block.get());
    return block;
}

sysex::ImageFault faultOf (const Bytes& image)
{
    sysex::ImageFault fault { sysex::ImageRule::notEmpty, 999999 };
    const auto block = exactCopy (image);
    EXPECT_FALSE (sysex::checkImage (block.get(), image.size(), fault));
    return fault;
}
} // namespace

//==============================================================================
// The stand-in image has the framing and message lengths of the device's own image.

TEST (CarriedImage, HasTheMessagesOfTheTableInOrder)
{
    const auto image = standin::makeImage();
    ASSERT_EQ (image.size(), 1355221u);

    const auto lengths = sysex::splitMessages (image.data(), image.size());
    ASSERT_EQ (lengths.size(), 2696u);
    EXPECT_EQ (std::accumulate (lengths.begin(), lengths.end(), std::size_t { 0 }), image.size());

    // Expected lengths, message by message, straight from the table.
    std::vector<std::size_t> expected { 17, 9, 40, 9, 40, 1148, 40 };
    expected.insert (expected.end(), 2686, 504);
    expected.insert (expected.end(), { 125, 40, 9 });
    ASSERT_EQ (expected.size(), 2696u);

    std::size_t offset = 0;

    for (std::size_t i = 0; i < lengths.size(); ++i)
    {
        ASSERT_EQ (lengths[i], expected[i]) << "message " << i + 1;
        const auto* m = image.data() + offset;
        ASSERT_EQ (Bytes (m, m + 6), (Bytes { 0xF0, 0x00, 0x7F, 0x7F, 0x00, 0x60 })) << "message " << i + 1;
        ASSERT_EQ (m[lengths[i] - 1], 0xF7);
        offset += lengths[i];
    }

    EXPECT_EQ (Bytes (image.begin() + 6, image.begin() + 17),
               (Bytes { 0x7E, 0x7E, 0, 0, 0, 0, 0, 0, 0, 0, 0xF7 }));
    EXPECT_EQ (Bytes (image.end() - 9, image.end()),
               (Bytes { 0xF0, 0x00, 0x7F, 0x7F, 0x00, 0x60, 0x52, 0x01, 0xF7 }));
}

TEST (CarriedImage, CommandsAndBodiesFollowTheTable)
{
    const auto image = standin::makeImage();
    std::map<std::pair<int, int>, int> commands;
    std::size_t offset = 0;
    std::set<Bytes> dataBodies;

    for (const auto length : sysex::splitMessages (image.data(), image.size()))
    {
        const auto* p = image.data() + offset;
        const int command = p[6], sub = p[7];
        ++commands[{ command, sub }];
        const Bytes body (p + 8, p + length - 1);

        if (command == 0x52 && sub == 0x00)
            dataBodies.insert (body);
        else
            EXPECT_EQ (body, Bytes (body.size(), 0)) << "a body of 00 bytes at offset " << offset;

        offset += length;
    }

    EXPECT_EQ (commands[std::make_pair (0x7E, 0x7E)], 1);
    EXPECT_EQ (commands[std::make_pair (0x51, 0x00)], 2);
    EXPECT_EQ (commands[std::make_pair (0x52, 0x00)], 2688);
    EXPECT_EQ (commands[std::make_pair (0x52, 0x02)], 4);
    EXPECT_EQ (commands[std::make_pair (0x52, 0x01)], 1);

    // Every data body differs from every other, so a dropped or swapped message cannot hide.
    EXPECT_EQ (dataBodies.size(), 2688u);
}

TEST (CarriedImage, IsTheSameOnEveryBuildAndKeepsTheRules)
{
    const auto image = standin::makeImage();
    EXPECT_EQ (image, standin::makeImage());

    sysex::ImageFault fault {};
    EXPECT_TRUE (sysex::checkImage (image.data(), image.size(), fault));
    EXPECT_EQ (sysex::countMessages (image.data(), image.size()), 2696u);
}

TEST (CarriedImage, IsWhatTheProgramCompiledIn)
{
    const EmbeddedFirmware firmware;
    ASSERT_NE (firmware.data, nullptr);

    sysex::ImageFault fault {};
    EXPECT_TRUE (sysex::checkImage (firmware.data, firmware.size, fault));

#if CANTORA_STANDIN_IMAGE
    const auto image = standin::makeImage();
    ASSERT_EQ (firmware.size, image.size());
    EXPECT_TRUE (std::equal (image.begin(), image.end(), firmware.data));
#endif
}

//==============================================================================

TEST (Descriptor, GeneralConstructorAttachesNoImage)
{
    const FirmwareDescriptor d ("Name", "2.0", 0);
    EXPECT_EQ (d.data, nullptr);
    EXPECT_EQ (d.size, 0u);
    EXPECT_EQ (d.getName(), "Name");
    EXPECT_EQ (d.getVersion(), "2.0");
    EXPECT_EQ (d.build, 0);
}

TEST (Descriptor, EmbeddedFirmwareDescribesTheCompiledInImage)
{
    const EmbeddedFirmware d;
    EXPECT_EQ (d.getName(), "Otemba");
#if CANTORA_STANDIN_IMAGE
    EXPECT_EQ (d.getVersion(), "1.0.02");
    EXPECT_EQ (d.build, 37);
    EXPECT_EQ (d.size, 1355221u);
#endif
}

//==============================================================================
// The checker names the broken rule and the offset of the first byte that breaks it.

TEST (ImageChecker, RefusesEachKindOfDamageWithRuleAndOffset)
{
    using R = sysex::ImageRule;
    const Bytes good { 0xF0, 0x01, 0xF7, 0xF0, 0x02, 0x03, 0xF7 };

    sysex::ImageFault fault {};
    EXPECT_TRUE (sysex::checkImage (good.data(), good.size(), fault));
    EXPECT_FALSE (sysex::checkImage (good.data(), 0, fault));
    EXPECT_EQ (fault.rule, R::notEmpty);
    EXPECT_FALSE (sysex::checkImage (nullptr, 5, fault));

    struct Case
    {
        Bytes image;
        R rule;
        std::size_t offset;
    };

    const Case cases[] = {
        { { 0x01, 0xF0, 0xF7 }, R::startsWithF0, 0 },
        { { 0xF0, 0xF7, 0x00, 0xF0, 0xF7 }, R::startsWithF0, 2 }, // a stray byte between messages
        { { 0xF0, 0x01, 0x80, 0xF7 }, R::sevenBitData, 2 },
        { { 0xF0, 0x01, 0xF7, 0xF0, 0x01, 0xF0, 0xF7 }, R::sevenBitData, 5 }, // an F0 inside a message
        { { 0xF0, 0x01, 0x02 }, R::endsWithF7, 0 },
        { { 0xF0, 0xF7, 0xF0, 0x05 }, R::endsWithF7, 2 },
        { { 0xF0, 0xF7, 0x00, 0x00 }, R::nothingAfterLastF7, 2 },
    };

    for (const auto& c : cases)
    {
        const auto f = faultOf (c.image);
        EXPECT_EQ (f.rule, c.rule) << sysex::describe (c.rule);
        EXPECT_EQ (f.offset, c.offset) << sysex::describe (c.rule);
    }
}

TEST (ImageChecker, FindsDamageDeepInsideTheCarriedImage)
{
    auto image = standin::makeImage();
    image[700000] = 0x90;
    EXPECT_EQ (faultOf (image).rule, sysex::ImageRule::sevenBitData);
    EXPECT_EQ (faultOf (image).offset, 700000u);

    image = standin::makeImage();
    image.pop_back();
    EXPECT_EQ (faultOf (image).rule, sysex::ImageRule::endsWithF7);
    EXPECT_EQ (faultOf (image).offset, image.size() + 1 - 9);
}

//==============================================================================
// The splitter finds one message from its F0 to the first F7 and never reads past the end.

TEST (Splitter, DelimitsOneMessage)
{
    const Bytes bytes { 0xF0, 0x10, 0x20, 0xF7, 0xF0, 0xF7 };
    const auto scan = sysex::scanMessage (bytes.data(), bytes.data() + bytes.size());
    EXPECT_EQ (scan.result, sysex::MessageScan::Result::complete);
    EXPECT_EQ (scan.length, 4u);

    const auto second = sysex::scanMessage (bytes.data() + 4, bytes.data() + bytes.size());
    EXPECT_EQ (second.length, 2u);
}

TEST (Splitter, StopsAtTheEndOfTruncatedInput)
{
    using Result = sysex::MessageScan::Result;
    const Bytes message { 0xF0, 0x00, 0x7F, 0x7F, 0x00, 0x60, 0x52, 0x01, 0xF7 };

    // Every truncation of a message, in a block of exactly that size.
    for (std::size_t n = 0; n < message.size(); ++n)
    {
        const auto block = exactCopy (Bytes (message.begin(), message.begin() + (long) n));
        const auto scan = sysex::scanMessage (block.get(), block.get() + n);
        EXPECT_EQ (scan.result, n == 0 ? Result::noStartByte : Result::noEndByte) << n;
        EXPECT_EQ (scan.length, 0u);
    }

    EXPECT_EQ (sysex::scanMessage (nullptr, nullptr).result, Result::noStartByte);

    const auto notF0 = exactCopy ({ 0x52, 0xF7 });
    EXPECT_EQ (sysex::scanMessage (notF0.get(), notF0.get() + 2).result, Result::noStartByte);

    auto image = standin::makeImage();
    image.resize (image.size() - 5);
    const auto block = exactCopy (image);
    EXPECT_EQ (sysex::countMessages (block.get(), image.size()), 2695u);
}
