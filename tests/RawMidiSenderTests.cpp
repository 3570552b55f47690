#include "midi/RawMidiSender.h"

#ifdef __linux__
#include "midi/AlsaRawMidiPorts.h"
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <vector>

namespace
{
// A stream that takes at most a few bytes per write, like a busy device, and logs every call.
struct FakeStream : public RawMidiStream
{
    long write (const std::uint8_t* bytes, std::size_t size) override
    {
        calls.push_back ("write " + std::to_string (size));

        if (! writeResults.empty())
        {
            const long r = writeResults.front();
            writeResults.pop_front();

            if (r <= 0)
                return r;
        }

        if (drainedSinceWrite == false && ! received.empty())
            writeBeforeDrain = true;

        const auto taken = std::min (size, takesAtMost);
        received.insert (received.end(), bytes, bytes + taken);
        largestWrite = std::max (largestWrite, size);
        drainedSinceWrite = false;
        return static_cast<long> (taken);
    }

    int drain() override
    {
        calls.push_back ("drain");

        if (! drainResults.empty())
        {
            const int r = drainResults.front();
            drainResults.pop_front();

            if (r < 0)
                return r;
        }

        drainedSinceWrite = true;
        return 0;
    }

    std::size_t takesAtMost = 3;
    std::vector<std::uint8_t> received;
    std::vector<std::string> calls;
    std::deque<long> writeResults;
    std::deque<int> drainResults;
    std::size_t largestWrite = 0;
    bool drainedSinceWrite = true;
    bool writeBeforeDrain = false;
};

std::vector<std::uint8_t> sysex (std::size_t length)
{
    std::vector<std::uint8_t> m (length, 0x11);
    m.front() = 0xF0;
    m.back() = 0xF7;

    for (std::size_t i = 1; i + 1 < length; ++i)
        m[i] = static_cast<std::uint8_t> (i & 0x7F);

    return m;
}
} // namespace

TEST (RawMidiSender, KeepsWritingUntilAPartiallyTakenMessageIsOut)
{
    FakeStream stream;
    const auto message = sysex (40);

    ASSERT_TRUE (sendRawMidiMessage (stream, message.data(), message.size(), 4096));
    EXPECT_EQ (stream.received, message);
    EXPECT_FALSE (stream.writeBeforeDrain) << "every write is drained before the next";
    EXPECT_EQ (stream.calls.front(), "write 40");
    EXPECT_EQ (stream.calls.back(), "drain");
}

TEST (RawMidiSender, NeverWritesMoreThanTheBufferHoldsAtOnce)
{
    FakeStream stream;
    stream.takesAtMost = 100000;
    const auto message = sysex (10000);

    ASSERT_TRUE (sendRawMidiMessage (stream, message.data(), message.size(), 4096));
    EXPECT_EQ (stream.received, message);
    EXPECT_EQ (stream.largestWrite, 4096u);
    EXPECT_EQ (stream.calls, (std::vector<std::string> { "write 4096", "drain", "write 4096", "drain",
                                                         "write 1808", "drain" }));
}

TEST (RawMidiSender, RepeatsInterruptedCallsAndStopsOnErrors)
{
    FakeStream interrupted;
    interrupted.writeResults = { -EINTR, -EAGAIN };
    interrupted.drainResults = { -EINTR };
    const auto message = sysex (9);
    ASSERT_TRUE (sendRawMidiMessage (interrupted, message.data(), message.size(), 4096));
    EXPECT_EQ (interrupted.received, message);
    EXPECT_FALSE (interrupted.writeBeforeDrain);
    EXPECT_EQ (interrupted.calls[2], "drain") << "a stream with no room is waited for, not hammered";

    FakeStream unplugged;
    unplugged.writeResults = { 3, -ENODEV };
    EXPECT_FALSE (sendRawMidiMessage (unplugged, message.data(), message.size(), 4096));

    FakeStream takesNothing;
    takesNothing.writeResults = { 0 };
    EXPECT_FALSE (sendRawMidiMessage (takesNothing, message.data(), message.size(), 4096));

    // A drain that fails (the device went away or stopped), or that was abandoned because the
    // sending thread is being stopped, ends the send: nothing more is written.
    for (const int drainError : { -EIO, -ENODEV, -ECANCELED })
    {
        FakeStream drainFails;
        drainFails.drainResults = { drainError };
        EXPECT_FALSE (sendRawMidiMessage (drainFails, message.data(), message.size(), 4096)) << drainError;
        EXPECT_EQ (drainFails.calls, (std::vector<std::string> { "write 9", "drain" })) << drainError;
    }
}

TEST (RawMidiPortNames, NameTheDeviceOrSubdeviceAndTheAddress)
{
    EXPECT_EQ (rawMidiPortBaseName ("Cantora 2 MIDI 1", "", 1), "Cantora 2 MIDI 1");
    EXPECT_EQ (rawMidiPortBaseName ("MIDI Gadget", "MIDI Gadget", 1), "MIDI Gadget");
    EXPECT_EQ (rawMidiPortBaseName ("Interface", "Interface MIDI 2", 4), "Interface MIDI 2");
    EXPECT_EQ (rawMidiPortBaseName ("", "", 1), "MIDI");
    EXPECT_EQ (rawMidiAddress (2, 0, 1), "hw:2,0,1");
}

#ifdef __linux__
TEST (AlsaRawMidiPorts, AnOutputNotListedDoesNotOpen)
{
    // This machine may have no sound cards at all; opening a position not in the list must fail cleanly.
    AlsaRawMidiPorts ports;
    const auto names = ports.getOutputNames();
    EXPECT_EQ (ports.openOutput (names.size()), nullptr);
    EXPECT_EQ (ports.openOutput (-1), nullptr);

    for (const auto& name : names)
        EXPECT_TRUE (name.contains ("(hw:")) << name;
}
#endif
