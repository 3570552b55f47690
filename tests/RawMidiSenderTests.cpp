#include "midi/native/AlsaPortNames.h"
#include "midi/native/RawMidiSender.h"

#ifdef __linux__
#include "midi/native/AlsaRawMidiPorts.h"
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>
#include <vector>

#ifdef __linux__
#include <unistd.h>
#endif

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

    long drainDriver() override
    {
        calls.push_back ("drain driver");

        if (driverDrains.empty())
            return 0;

        const long r = driverDrains.front();
        driverDrains.pop_front();
        return r;
    }

    std::size_t takesAtMost = 3;
    std::vector<std::uint8_t> received;
    std::vector<std::string> calls;
    std::deque<long> writeResults;
    std::deque<int> drainResults;
    std::deque<long> driverDrains; // milliseconds each driver drain takes, or its error; then 0
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

    ASSERT_EQ (sendRawMidiMessage (stream, message.data(), message.size(), 4096), PortResult::ok);
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

    ASSERT_EQ (sendRawMidiMessage (stream, message.data(), message.size(), 4096), PortResult::ok);
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
    ASSERT_EQ (sendRawMidiMessage (interrupted, message.data(), message.size(), 4096), PortResult::ok);
    EXPECT_EQ (interrupted.received, message);
    EXPECT_FALSE (interrupted.writeBeforeDrain);
    EXPECT_EQ (interrupted.calls[2], "drain") << "a stream with no room is waited for, not hammered";

    FakeStream unplugged;
    unplugged.writeResults = { 3, -ENODEV };
    EXPECT_EQ (sendRawMidiMessage (unplugged, message.data(), message.size(), 4096), PortResult::failed);

    FakeStream takesNothing;
    takesNothing.writeResults = { 0 };
    EXPECT_EQ (sendRawMidiMessage (takesNothing, message.data(), message.size(), 4096), PortResult::failed);

    // A drain that fails (the device stopped or went away), or that was abandoned because the
    // sending thread is being stopped, ends the send by its kind: nothing more is written.
    const std::pair<int, PortResult> drainErrors[] = { { -EIO, PortResult::stalled },
                                                       { -ENODEV, PortResult::failed },
                                                       { -ECANCELED, PortResult::abandoned } };

    for (const auto& [drainError, result] : drainErrors)
    {
        FakeStream drainFails;
        drainFails.drainResults = { drainError };
        EXPECT_EQ (sendRawMidiMessage (drainFails, message.data(), message.size(), 4096), result)
            << drainError;
        EXPECT_EQ (drainFails.calls, (std::vector<std::string> { "write 9", "drain" })) << drainError;
    }
}

TEST (RawMidiSender, AfterTheLastMessageWaitsUntilTheDriverHasNothingInFlight)
{
    // Each drain that runs into the driver's 50 ms time-out still had a transfer in flight; one that
    // returns clearly sooner had none left. Slow early returns are simply tried again.
    FakeStream taken;
    taken.driverDrains = { 52, 51, -EINTR, 30, 2 };
    EXPECT_EQ (waitUntilNothingInFlight (taken, 10000), PortResult::ok);
    EXPECT_EQ (taken.calls.size(), 5u);

    // A device that holds its transfers for the whole limit has stopped.
    FakeStream stopped;
    stopped.driverDrains = std::deque<long> (1000, 52);
    EXPECT_EQ (waitUntilNothingInFlight (stopped, 10000), PortResult::stalled);
    EXPECT_EQ (stopped.calls.size(), 193u) << "10 s of 52 ms drains";

    FakeStream unplugged;
    unplugged.driverDrains = { 52, -ENODEV };
    EXPECT_EQ (waitUntilNothingInFlight (unplugged, 10000), PortResult::failed);

    FakeStream closing;
    closing.driverDrains = { 52, -ECANCELED };
    EXPECT_EQ (waitUntilNothingInFlight (closing, 10000), PortResult::abandoned);
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
TEST (SoundCardIdentity, IsTheDevicesPlaceAndNeverACutLongName)
{
    namespace fs = std::filesystem;
    const auto sys = fs::temp_directory_path() / ("cantora-sysfs-" + std::to_string (::getpid()));
    const auto write = [] (const fs::path& file, const char* text)
    {
        fs::create_directories (file.parent_path());
        std::ofstream (file) << text << "\n";
    };
    const auto card = [&] (int number, const fs::path& device)
    {
        fs::create_directories (device);
        fs::create_directories (sys / "class/sound" / ("card" + std::to_string (number)));
        fs::create_symlink (device, sys / "class/sound" / ("card" + std::to_string (number)) / "device");
    };

    const auto hub = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    write (hub / "busnum", "1");
    write (hub / "devpath", "2");
    write (hub / "1-2.4/busnum", "1");
    write (hub / "1-2.4/devpath", "2.4");
    write (hub / "1-2.4/serial", "A1");
    card (1, hub / "1-2:1.0");
    card (2, hub / "1-2.4/1-2.4:1.0");
    card (3, sys / "devices/platform/snd_virmidi.0");

    const std::string cut = "Korvane Instruments Manufacturing Company of Sound Devices Cantora 2 at usb-d";
    EXPECT_EQ (soundCardIdentity (sys.string(), 1, cut), "usb 1-2") << "the long name plays no part";
    EXPECT_EQ (soundCardIdentity (sys.string(), 2, cut), "usb 1-2.4 serial A1") << "behind a hub";
    EXPECT_EQ (soundCardIdentity (sys.string(), 3, "Virtual MIDI Card 1"), "devices/platform/snd_virmidi.0");

    // With no sysfs entry, a whole long name still tells the place; a cut one tells nothing.
    const std::string whole = "Korvane Cantora 2 at usb-0000:00:14.0-2, high speed";
    EXPECT_EQ (soundCardIdentity (sys.string(), 4, whole), whole);
    EXPECT_EQ (soundCardIdentity (sys.string(), 4, cut), "");
    EXPECT_EQ (soundCardIdentity (sys.string(), 4, "Virtual MIDI Card 1"), "");

    fs::remove_all (sys);
}

TEST (AlsaRawMidiPorts, AnOutputNotListedDoesNotOpen)
{
    // This machine may have no sound cards at all; opening a position not in the list must fail cleanly.
    AlsaRawMidiPorts ports;
    const auto names = ports.getOutputNames();
    EXPECT_EQ (ports.openOutput (names.size()).port, nullptr);
    EXPECT_EQ (ports.openOutput (-1).problem, MidiPortList::OpenProblem::notPresent);

    for (const auto& name : names)
        EXPECT_TRUE (name.contains ("(hw:")) << name;
}
#endif
