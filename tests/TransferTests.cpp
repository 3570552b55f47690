#include "firmware/FirmwareDescriptor.h"
#include "midi/MidiInterfaceClass.h"
#include "support/ChangeWatcher.h"
#include "support/InMemoryMidiPorts.h"
#include "support/MessageLoop.h"
#include "support/ScreenProbe.h"
#include "transfer/StandaloneTransfer.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

using testing_support::pumpUntil;
using testing_support::pumpUntilQuiet;

namespace
{
double millisecondsSince (double start)
{
    return juce::Time::getMillisecondCounterHiRes() - start;
}

// Stops and waits for the message thread are given this long before a test calls them hung: a loaded
// machine may be slow, but never this slow. How soon a stop ends is a figure that make e2e reports,
// and how long the message thread is held one that the transfer benchmark reports; neither is
// asserted here.
constexpr int hangBoundMs = 10000;

// What the port saw at the moment of each write, on the transfer thread.
struct WriteRecord
{
    double progress;
    juce::String status;
    bool interfaceEnabled;
};

// A port chooser on one in-memory port, the carried image and a transfer object wired as the update
// screen wires them. The port is picked and open.
struct TransferFixture : public ::testing::Test
{
    TransferFixture()
        : ports ({ "Cantora 2" })
        , transfer (ports)
    {
        testing_support::find<juce::ComboBox> (midi)->setSelectedId (1);
        pumpUntil ([this] { return midi.isConnected(); });

        // The object itself, not the owning pointer, which the message thread resets to destroy it
        // while its thread still runs.
        device().onSend = [this, transfer = protocol.get()]
        {
            const std::lock_guard<std::mutex> guard (recordLock);
            records.push_back ({ transfer->progress.load(), transfer->getStatus(), midi.isEnabled() });
        };
    }

    ~TransferFixture() override
    {
        device().release();
        protocol = nullptr;
        device().onSend = nullptr;
    }

    InMemoryMidiPorts::Device& device() { return ports.device (0); }

    std::vector<WriteRecord> getRecords()
    {
        const std::lock_guard<std::mutex> guard (recordLock);
        return records;
    }

    // Asks the thread to exit and waits for it on the message thread, which meanwhile hands nothing
    // over: the wait ends, and at most one more message goes out.
    void stopAsTheMainWindowDoes()
    {
        device().takenAfterExitRequest = 0;
        EXPECT_TRUE (protocol->stop (hangBoundMs));
        EXPECT_LE (device().takenAfterExitRequest, 1);
    }

    bool runToEnd (int timeoutMs = 120000) // a hang bound, not a measure of speed
    {
        return pumpUntil ([this] { return ! protocol->isThreadRunning(); }, timeoutMs);
    }

    void expectReceivedTheWholeImage (size_t firstMessage = 0)
    {
        const auto messages = device().getMessages();
        ASSERT_EQ (messages.size() - firstMessage, 2696u);

        size_t offset = 0;

        for (size_t i = firstMessage; i < messages.size(); ++i)
        {
            const auto& m = messages[i];
            ASSERT_EQ (m.source, firmware.data + offset) << "message " << i << " is not sent from the image";
            ASSERT_EQ (m.bytes.front(), 0xF0);
            ASSERT_EQ (m.bytes.back(), 0xF7);
            ASSERT_TRUE (std::equal (m.bytes.begin(), m.bytes.end(), firmware.data + offset))
                << "message " << i;
            offset += m.bytes.size();
        }

        EXPECT_EQ (offset, firmware.size);
        EXPECT_EQ (messages.back().bytes,
                   (std::vector<juce::uint8> { 0xF0, 0x00, 0x7F, 0x7F, 0x00, 0x60, 0x52, 0x01, 0xF7 }));
    }

    InMemoryMidiPorts ports;
    StandaloneTransfer transfer;
    MidiInterfaceClass& midi = transfer.chooser;
    EmbeddedFirmware& firmware = transfer.firmware;
    std::unique_ptr<BasicSysexProtocolClass>& protocol = transfer.protocol;

    std::mutex recordLock;
    std::vector<WriteRecord> records;
};
} // namespace

//==============================================================================

using TransferOfTheImage = TransferFixture;

TEST_F (TransferOfTheImage, SendsEveryMessageInOrderFromInsideTheImage)
{
    protocol->startTransfer();
    ASSERT_TRUE (runToEnd());

    expectReceivedTheWholeImage();

    const auto writes = getRecords();
    ASSERT_EQ (writes.size(), 2696u);

    for (const auto& w : writes)
    {
        ASSERT_EQ (w.status, "Uploading firmware");
        ASSERT_FALSE (w.interfaceEnabled) << "the port chooser stays disabled while the image goes out";
    }

    EXPECT_EQ (protocol->getStatus(), "Update completed");
    EXPECT_EQ (protocol->progress.load(), 1.0);
    EXPECT_TRUE (midi.isEnabled());
}

TEST_F (TransferOfTheImage, ProgressClimbsInWholePercentAndReachesTheEndWithTheLastMessage)
{
    testing_support::ChangeWatcher listener (*protocol);
    protocol->startTransfer();
    ASSERT_TRUE (runToEnd());
    pumpUntilQuiet();

    const auto writes = getRecords();
    ASSERT_EQ (writes.size(), 2696u);

    std::set<double> distinct;
    double last = 0.0;

    for (const auto& w : writes)
    {
        ASSERT_GE (w.progress, last);
        ASSERT_EQ (w.progress, juce::roundToInt (w.progress * 100.0) / 100.0);
        last = w.progress;
        distinct.insert (w.progress);
    }

    // What was published before the 2,696th message went out: not yet 100%.
    EXPECT_EQ (writes.back().progress, 0.99);
    distinct.insert (protocol->progress.load());
    EXPECT_LE (distinct.size(), 101u);
    EXPECT_EQ (protocol->progress.load(), 1.0);
    EXPECT_GE (listener.count, 1);
    EXPECT_LE (listener.count, 102); // 100 progress changes and two status changes at the most
    EXPECT_EQ (device().numConfirmations, 1) << "the device was checked once, after the last message";
}

TEST_F (TransferOfTheImage, StartingAgainWhileItRunsChangesNothing)
{
    // Held in the middle of the image, so that the transfer still runs at the second start however
    // late the message thread gets to it.
    device().holdBeforeMessage (200);
    protocol->startTransfer();
    ASSERT_TRUE (pumpUntil ([this] { return device().isHolding(); }));

    const double progressBefore = protocol->progress.load();
    protocol->startTransfer();
    EXPECT_EQ (protocol->progress.load(), progressBefore);
    EXPECT_GT (progressBefore, 0.0);

    device().release();
    ASSERT_TRUE (runToEnd());
    expectReceivedTheWholeImage();
    EXPECT_EQ (protocol->getStatus(), "Update completed");
}

TEST_F (TransferOfTheImage, StartsOverFromTheFirstMessageAfterACompletedTransfer)
{
    protocol->startTransfer();
    ASSERT_TRUE (runToEnd());
    ASSERT_EQ (protocol->progress.load(), 1.0);

    {
        const std::lock_guard<std::mutex> guard (recordLock);
        records.clear();
    }

    protocol->startTransfer();
    EXPECT_EQ (protocol->progress.load(), 0.0) << "set back at once, on the message thread";
    EXPECT_EQ (protocol->getStatus(), "Uploading firmware");
    ASSERT_TRUE (runToEnd());

    expectReceivedTheWholeImage (2696);
    const auto writes = getRecords();
    ASSERT_FALSE (writes.empty());
    EXPECT_EQ (writes.front().status, "Uploading firmware");
    EXPECT_EQ (writes.front().progress, 0.0);
    EXPECT_EQ (protocol->getStatus(), "Update completed");
}

TEST_F (TransferOfTheImage, StartingWhileItFinishesChangesNothingAndTellsTheListeners)
{
    // The final status reaches listeners before the thread can take the message-thread lock for its
    // last step, so this listener runs while the thread is finishing.
    struct Listener : public juce::ChangeListener
    {
        explicit Listener (BasicSysexProtocolClass& p)
            : protocol (p)
        {
        }

        void changeListenerCallback (juce::ChangeBroadcaster*) override
        {
            ++callbacks;

            if (! pressed && protocol.getStatus() == "Update completed")
            {
                pressed = true;
                wasRunning = protocol.isThreadRunning();
                callbacksAtPress = callbacks;
                protocol.startTransfer();
                progressAfter = protocol.progress.load();
            }
        }

        BasicSysexProtocolClass& protocol;
        bool pressed = false, wasRunning = false;
        int callbacks = 0, callbacksAtPress = 0;
        double progressAfter = -1.0;
    } listener (*protocol);

    protocol->addChangeListener (&listener);
    protocol->startTransfer();
    ASSERT_TRUE (pumpUntil ([&] { return listener.pressed && ! protocol->isThreadRunning(); }, 120000));
    pumpUntilQuiet();
    protocol->removeChangeListener (&listener);

    EXPECT_TRUE (listener.wasRunning);
    EXPECT_EQ (listener.progressAfter, 1.0);
    EXPECT_GT (listener.callbacks, listener.callbacksAtPress) << "listeners read the state again";
    EXPECT_EQ (protocol->progress.load(), 1.0);
    EXPECT_EQ (protocol->getStatus(), "Update completed");
    EXPECT_EQ (device().getNumMessages(), 2696u) << "no new transfer";
    EXPECT_FALSE (protocol->isThreadRunning());
    EXPECT_TRUE (midi.isEnabled());
}

//==============================================================================

using StoppingATransfer = TransferFixture;

TEST_F (StoppingATransfer, WhileTheMessageThreadIsBusyEndsPromptly)
{
    device().holdBeforeMessage (300);
    protocol->startTransfer();
    ASSERT_TRUE (pumpUntil ([this] { return device().isHolding(); }));

    // Something enables the port chooser, so the next pass needs the message-thread lock, which this
    // thread, busy from here on, never hands over: the transfer cannot end on its own. The stop comes
    // once the held message is out, when the thread is on its way to that lock.
    midi.setEnabled (true);
    device().release();

    while (device().getNumMessages() == 300)
        std::this_thread::yield();

    stopAsTheMainWindowDoes();
    EXPECT_EQ (protocol->getStatus(), "Uploading firmware");
}

TEST_F (StoppingATransfer, WhileTheDeviceTakesNothingEndsPromptly)
{
    device().holdBeforeMessage (300);
    protocol->startTransfer();
    ASSERT_TRUE (pumpUntil ([this] { return device().isHolding(); }));

    stopAsTheMainWindowDoes();
    EXPECT_EQ (device().getNumMessages(), 300u);
    pumpUntilQuiet();
    EXPECT_EQ (protocol->getStatus(), "Uploading firmware") << "a stop is no failure of the port";
    EXPECT_TRUE (midi.isConnected());
    EXPECT_FALSE (midi.isEnabled()) << "a stopped transfer leaves the port chooser disabled";
}

TEST_F (StoppingATransfer, WhileTheMessageThreadWaitsForItEndsPromptly)
{
    device().microsecondsPerMessage = 300;
    // Should the message thread fall far behind, the transfer waits here instead of completing.
    device().holdBeforeMessage (2000);
    protocol->startTransfer();
    ASSERT_TRUE (pumpUntil ([this] { return device().getNumMessages() >= 300; }));

    stopAsTheMainWindowDoes();
    EXPECT_NE (protocol->getStatus(), "Update completed");

    // The next start begins again with the first message.
    device().release();
    device().onSend = nullptr;
    const auto before = device().getNumMessages();
    protocol->startTransfer();
    ASSERT_TRUE (runToEnd());
    expectReceivedTheWholeImage (before);
}

TEST_F (StoppingATransfer, DestroyingTheObjectStopsItsThreadWithoutKillingIt)
{
    device().microsecondsPerMessage = 300;
    protocol->startTransfer();
    ASSERT_TRUE (pumpUntil ([this] { return device().getNumMessages() >= 100; }));

    device().takenAfterExitRequest = 0;
    const auto start = juce::Time::getMillisecondCounterHiRes();
    protocol = nullptr; // the destructor waits for the thread without a limit
    EXPECT_LT (millisecondsSince (start), hangBoundMs);
    EXPECT_LE (device().takenAfterExitRequest, 1);
}

//==============================================================================

using FailingTransfer = TransferFixture;

TEST_F (FailingTransfer, APortThatGoesAwayEndsItWithoutClaimingSuccess)
{
    device().goesAwayAfter = 500;
    protocol->startTransfer();
    ASSERT_TRUE (runToEnd());

    EXPECT_EQ (device().getNumMessages(), 500u) << "nothing more is sent";
    EXPECT_EQ (protocol->getStatus(), "Update failed: the MIDI port was closed or disconnected");
    EXPECT_EQ (protocol->getOutcome(), ProtocolBaseClass::Outcome::portFailed);
    EXPECT_LT (protocol->progress.load(), 1.0);
    EXPECT_TRUE (midi.isEnabled());

    // Retrying on the port, picked again, runs the whole image from its first message.
    device().goesAwayAfter = -1;
    device().gone = false;
    pumpUntilQuiet();
    testing_support::find<juce::ComboBox> (midi)->setSelectedId (1);
    ASSERT_TRUE (pumpUntil ([this] { return midi.isConnected(); }));
    protocol->startTransfer();
    EXPECT_EQ (protocol->getStatus(), "Uploading firmware") << "the failure is not shown beside the new 0%";
    ASSERT_TRUE (runToEnd());
    expectReceivedTheWholeImage (500);
    EXPECT_EQ (protocol->getStatus(), "Update completed");
}

TEST_F (FailingTransfer, APortThatFailsAtTheLastMessageOrAfterItNeverReachesCompletion)
{
    enum Fault
    {
        goneAtTheLastMessage,
        goneAfterTheLastMessage,
        stopsAtTheLastMessage,
        stopsAfterTheLastMessage // the check after it finds transfers the device never took
    };

    for (const auto fault :
         { goneAtTheLastMessage, goneAfterTheLastMessage, stopsAtTheLastMessage, stopsAfterTheLastMessage })
    {
        SCOPED_TRACE (fault);
        testing_support::find<juce::ComboBox> (midi)->setSelectedId (1);
        ASSERT_TRUE (pumpUntil ([this] { return midi.isConnected(); }));
        const auto before = (long) device().getNumMessages();
        device().gone = false;
        device().failsConfirmation = fault == goneAfterTheLastMessage;
        device().goesAwayAfter = fault == goneAtTheLastMessage ? before + 2695 : -1;
        device().stopsTakingDataAfter = fault == stopsAtTheLastMessage      ? before + 2695
                                        : fault == stopsAfterTheLastMessage ? before + 2696
                                                                            : -1;

        protocol->startTransfer();
        ASSERT_TRUE (runToEnd());
        pumpUntilQuiet();

        const bool stopped = fault == stopsAtTheLastMessage || fault == stopsAfterTheLastMessage;
        EXPECT_EQ (protocol->getOutcome(), stopped ? ProtocolBaseClass::Outcome::deviceStopped
                                                   : ProtocolBaseClass::Outcome::portFailed);
        EXPECT_EQ (protocol->getStatus(), stopped
                                              ? "Update failed: the device stopped taking data"
                                              : "Update failed: the MIDI port was closed or disconnected");
        EXPECT_EQ (protocol->progress.load(), 0.99) << "never 100%";
        EXPECT_FALSE (midi.isConnected()) << "the failed port is closed";
        EXPECT_TRUE (midi.isEnabled());
    }
}

TEST_F (FailingTransfer, NoOpenPortIsAFailureNotASuccess)
{
    InMemoryMidiPorts noPorts;
    StandaloneTransfer unconnected (noPorts);
    auto& toNoPort = *unconnected.protocol;

    toNoPort.startTransfer();
    ASSERT_TRUE (pumpUntil ([&] { return ! toNoPort.isThreadRunning(); }));

    EXPECT_EQ (toNoPort.getStatus(), "Update failed: the MIDI port was closed or disconnected");
    EXPECT_EQ (toNoPort.progress.load(), 0.0);
    EXPECT_TRUE (unconnected.chooser.isEnabled());
}

TEST_F (FailingTransfer, ADamagedImageEndsWithNothingReadPastItsEnd)
{
    using Bytes = std::vector<juce::uint8>;

    struct Case
    {
        const char* what;
        Bytes image;
        size_t messagesSent;
    };

    const Case cases[] = {
        { "no F0 at the start", { 0x01, 0xF0, 0x02, 0xF7 }, 0 },
        { "no F7 before the end", { 0xF0, 0x01, 0xF7, 0xF0, 0x02, 0x03 }, 1 },
        { "a truncated last message", { 0xF0, 0x01, 0xF7, 0xF0, 0x7F, 0x7F, 0x00, 0x60, 0x52 }, 1 },
        { "a stray byte between messages", { 0xF0, 0x01, 0xF7, 0x00, 0xF0, 0x02, 0xF7 }, 1 },
        { "an empty image", {}, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);

        // Exactly the image's size, so that AddressSanitizer reports any read past its end.
        auto block = std::make_unique<juce::uint8[]> (c.image.size());
        std::copy (c.image.begin(), c.image.end(), block.get());

        FirmwareDescriptor damaged ("Damaged", "0", 0);
        damaged.data = c.image.empty() ? nullptr : block.get();
        damaged.size = (juce::uint32) c.image.size();

        const auto before = device().getNumMessages();
        BasicSysexProtocolClass ofTheDamaged (&midi, &damaged);
        ofTheDamaged.startTransfer();
        ASSERT_TRUE (pumpUntil ([&] { return ! ofTheDamaged.isThreadRunning(); }));

        EXPECT_EQ (ofTheDamaged.getStatus(), "Update failed: the firmware image is damaged");
        EXPECT_EQ (device().getNumMessages() - before, c.messagesSent);
        EXPECT_LT (ofTheDamaged.progress.load(), 1.0);
        EXPECT_TRUE (midi.isEnabled());
    }
}

//==============================================================================

TEST_F (TransferOfTheImage, ASlowPortStillGetsEveryByteWhileTheMessageThreadStaysResponsive)
{
    device().microsecondsPerMessage = 200;
    device().holdBeforeMessage (1000);
    protocol->startTransfer();

    // Ping the message thread all through the transfer: every ping is answered (the window never
    // freezes), those sent while the port keeps the thread waiting in the middle of the image included.
    const auto ping = []()
    {
        bool done = false;
        juce::MessageManager::callAsync ([&done] { done = true; });
        return pumpUntil ([&] { return done; }, hangBoundMs);
    };

    ASSERT_TRUE (pumpUntil ([&] { return device().isHolding(); }));

    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE (ping());

    EXPECT_TRUE (protocol->isThreadRunning());
    device().release();

    while (protocol->isThreadRunning())
        ASSERT_TRUE (ping());

    expectReceivedTheWholeImage();
    EXPECT_EQ (protocol->getStatus(), "Update completed");
}

//==============================================================================

TEST (ProtocolBase, DefaultStartTransferStartsOrResets)
{
    struct IdleProtocol : public ProtocolBaseClass
    {
        IdleProtocol()
            : ProtocolBaseClass (nullptr, nullptr)
        {
        }
        ~IdleProtocol() override
        {
            signalThreadShouldExit();
            notify(); // the run loop waits until notified
            stopThread (2000);
        }

        void run() override
        {
            priority = getPriority(); // a thread's priority is read on the thread itself

            while (! threadShouldExit())
                wait (-1);
        }

        std::atomic<juce::Thread::Priority> priority { juce::Thread::Priority::highest };
    } protocol;

    protocol.setProgress (0.5);
    protocol.startTransfer();
    EXPECT_TRUE (protocol.isThreadRunning());
    EXPECT_EQ (protocol.progress.load(), 0.0);
    ASSERT_TRUE (pumpUntil ([&] { return protocol.priority != juce::Thread::Priority::highest; }));
    EXPECT_EQ (protocol.priority, juce::Thread::Priority::low);
    EXPECT_EQ (protocol.getThreadName(), "Protocol Thread");

    protocol.setProgress (0.5);
    protocol.startTransfer();
    EXPECT_EQ (protocol.progress.load(), 0.5) << "running and not finished: nothing changes";

    protocol.setProgress (1.0);
    protocol.startTransfer();
    EXPECT_EQ (protocol.progress.load(), 0.0);
}
