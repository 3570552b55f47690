#include "midi/native/WinMidiSender.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace
{
using Wait = LongMessageOutput::Wait;

// A multimedia MIDI output whose driver follows a script: what each call returns, and which wait
// finds the header done. Every call is logged.
struct ScriptedOutput : public LongMessageOutput
{
    unsigned int prepare (const std::uint8_t* bytes, std::size_t size) override
    {
        calls.push_back ("prepare " + std::to_string (size));
        received.assign (bytes, bytes + size);
        return prepareResult;
    }

    unsigned int send() override
    {
        calls.push_back ("send");
        held = sendResult == 0;
        return sendResult;
    }

    bool isDone() override { return done; }

    Wait wait (int) override
    {
        calls.push_back ("wait");
        const auto result = waits.empty() ? Wait::timedOut : waits.front();

        if (! waits.empty())
            waits.pop_front();

        done = done || (result == Wait::signalled && --signalsUntilDone == 0);
        return result;
    }

    unsigned int unprepare() override
    {
        calls.push_back ("unprepare");
        held = held && ! done;
        return held ? 65u : 0u; // MIDIERR_STILLPLAYING while the driver holds the header
    }

    bool isPresent() override { return present; }

    unsigned int prepareResult = 0, sendResult = 0;
    std::deque<Wait> waits;
    int signalsUntilDone = 1;
    bool done = false, held = false, present = true;
    std::vector<std::string> calls;
    std::vector<std::uint8_t> received;
};

const std::vector<std::uint8_t> message { 0xF0, 0x00, 0x7F, 0x7F, 0x00, 0x60, 0x52, 0x01, 0xF7 };

PortResult send (ScriptedOutput& output)
{
    return sendLongMidiMessage (output, message.data(), message.size());
}
} // namespace

TEST (WinMidiSender, WaitsForTheHeaderAndReleasesIt)
{
    ScriptedOutput doneLate; // the driver signals twice before the header is done
    doneLate.waits = { Wait::signalled, Wait::signalled };
    doneLate.signalsUntilDone = 2;
    EXPECT_EQ (send (doneLate), PortResult::ok);
    EXPECT_EQ (doneLate.received, message);
    EXPECT_EQ (doneLate.calls,
               (std::vector<std::string> { "prepare 9", "send", "wait", "wait", "unprepare" }));
}

TEST (WinMidiSender, EveryFailureFailsTheSendByItsKindAndLeavesNoHeaderWithTheDriver)
{
    ScriptedOutput prepareFails;
    prepareFails.prepareResult = 11; // MMSYSERR_INVALPARAM
    EXPECT_EQ (send (prepareFails), PortResult::failed);
    EXPECT_EQ (prepareFails.calls, (std::vector<std::string> { "prepare 9" }));

    ScriptedOutput sendFails;  // the device was unplugged
    sendFails.sendResult = 68; // MIDIERR_NODEVICE
    EXPECT_EQ (send (sendFails), PortResult::failed);
    EXPECT_EQ (sendFails.calls, (std::vector<std::string> { "prepare 9", "send", "unprepare" }));

    // A device that stopped taking data: the time-out passes. The header stays with the driver (the
    // port takes it back when it closes), so the sending thread never waits on the driver. One that
    // has gone from the system's list meanwhile was unplugged instead.
    ScriptedOutput neverDone;
    neverDone.waits = { Wait::timedOut };
    EXPECT_EQ (send (neverDone), PortResult::stalled);
    EXPECT_EQ (neverDone.calls, (std::vector<std::string> { "prepare 9", "send", "wait" }));

    ScriptedOutput goneWhileSending;
    goneWhileSending.present = false;
    EXPECT_EQ (send (goneWhileSending), PortResult::failed);

    ScriptedOutput stopped; // the transfer is stopped while the driver holds the header
    stopped.waits = { Wait::signalled, Wait::exitRequested };
    stopped.signalsUntilDone = 5;
    EXPECT_EQ (send (stopped), PortResult::abandoned);
    EXPECT_EQ (stopped.calls, (std::vector<std::string> { "prepare 9", "send", "wait", "wait" }));
}

TEST (WinMidiSender, TheTimeOutLetsTheLargestMessageCrossASlowLink)
{
    // 1,148 bytes at 31,250 baud take 368 ms, with two seconds to spare.
    EXPECT_EQ (longMessageTimeoutMilliseconds (1148), 368 + 2000);
    EXPECT_EQ (longMessageTimeoutMilliseconds (9), 3 + 2000);
}

TEST (WinMidiSender, ConfirmsOnlyADeviceThatIsStillThere)
{
    ScriptedOutput there;
    there.waits = { Wait::signalled, Wait::timedOut };
    EXPECT_EQ (confirmLongMidiDelivery (there, 500), PortResult::ok);

    ScriptedOutput gone;
    gone.present = false;
    EXPECT_EQ (confirmLongMidiDelivery (gone, 500), PortResult::failed);

    ScriptedOutput stopped;
    stopped.waits = { Wait::exitRequested };
    EXPECT_EQ (confirmLongMidiDelivery (stopped, 500), PortResult::abandoned);
}
