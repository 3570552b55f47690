#include "midi/MidiInterfaceClass.h"
#include "support/InMemoryMidiPorts.h"
#include "support/ChangeWatcher.h"
#include "support/MessageLoop.h"
#include "support/ScreenProbe.h"

#include <gtest/gtest.h>

#include <thread>

using testing_support::pumpUntil;
using testing_support::pumpUntilQuiet;

namespace
{

juce::ComboBox& selectorOf (juce::Component& c)
{
    return *testing_support::find<juce::ComboBox> (c);
}

struct Entry
{
    juce::String text;
    int id; // 0 for a separator
    bool operator== (const Entry& o) const { return text == o.text && id == o.id; }
};

std::ostream& operator<< (std::ostream& os, const Entry& e)
{
    return os << (e.id == 0 ? "----" : e.text + " #" + juce::String (e.id));
}

std::vector<Entry> entriesOf (juce::ComboBox& box)
{
    std::vector<Entry> entries;

    for (juce::PopupMenu::MenuItemIterator it (*box.getRootMenu()); it.next();)
    {
        const auto& item = it.getItem();
        entries.push_back (item.isSeparator ? Entry { {}, 0 } : Entry { item.text, item.itemID });
    }

    return entries;
}

// A component built on in-memory ports, with a listener counting its broadcasts once the loop runs.
struct Fixture
{
    explicit Fixture (juce::StringArray names)
        : ports (names)
        , midi (ports)
    {
        midi.setSize (300, midi.getPreferredHeight());
    }

    // Picks an entry as the user's choice does, and waits until the component has broadcast it.
    void pick (int id)
    {
        const int before = changes.count;
        selectorOf (midi).setSelectedId (id);
        EXPECT_TRUE (pumpUntil ([&] { return changes.count > before; }));
    }

    InMemoryMidiPorts ports;
    MidiInterfaceClass midi;
    testing_support::ChangeWatcher changes { midi };
};
} // namespace

//==============================================================================

TEST (MidiInterface, ListsDisconnectedAloneWhenThereAreNoPorts)
{
    Fixture f ({});
    auto& box = selectorOf (f.midi);

    EXPECT_EQ (box.getName(), "Output Selector");
    EXPECT_EQ (entriesOf (box), (std::vector<Entry> { { "(Disconnected)", 1 } }));
    EXPECT_EQ (box.getSelectedId(), 1);
    EXPECT_EQ (box.findColour (juce::ComboBox::buttonColourId), juce::Colours::white);

    pumpUntilQuiet();
    EXPECT_EQ (f.changes.count, 1);
    EXPECT_FALSE (f.midi.isConnected());
}

TEST (MidiInterface, ListsDisconnectedThenASeparatorThenThePortsInOrder)
{
    Fixture one ({ "Cantora 2" });
    EXPECT_EQ (entriesOf (selectorOf (one.midi)),
               (std::vector<Entry> { { "(Disconnected)", 2 }, { {}, 0 }, { "Cantora 2", 1 } }));

    Fixture f ({ "Port A", "Port B", "Port C" });
    auto& box = selectorOf (f.midi);
    EXPECT_EQ (entriesOf (box),
               (std::vector<Entry> {
                   { "(Disconnected)", 4 }, { {}, 0 }, { "Port A", 1 }, { "Port B", 2 }, { "Port C", 3 } }));
    EXPECT_EQ (box.getSelectedId(), 4);
    EXPECT_EQ (box.getText(), "(Disconnected)");
    EXPECT_EQ (f.changes.count, 0) << "the first broadcast waits for the message loop";

    pumpUntilQuiet();
    EXPECT_EQ (f.changes.count, 1) << "exactly one broadcast once the loop runs";
    EXPECT_FALSE (f.midi.isConnected());
    EXPECT_TRUE (f.ports.getEvents().isEmpty());
}

TEST (MidiInterface, CaptionSitsAboveTheSelector)
{
    Fixture f ({ "Port A" });
    EXPECT_EQ (f.midi.getPreferredHeight(), 50);

    f.midi.setSize (417, 50);
    auto& box = selectorOf (f.midi);
    EXPECT_EQ (box.getBounds(), juce::Rectangle<int> (0, 20, 417, 30));

    juce::Label* caption = nullptr;

    for (auto* child : f.midi.getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (child))
            caption = label;

    ASSERT_NE (caption, nullptr);
    EXPECT_EQ (caption->getText(), "Select an output device:");
    EXPECT_EQ (caption->getAttachedComponent(), &box);
    EXPECT_LE (caption->getBottom(), 20);
    EXPECT_EQ (caption->getX(), 0);
    EXPECT_EQ (caption->getWidth(), 417);
}

TEST (MidiInterface, SwitchingPortsClosesTheOldBeforeOpeningTheNew)
{
    Fixture f ({ "Port A", "Port B", "Port C" });
    pumpUntilQuiet();

    f.pick (1);
    EXPECT_TRUE (f.midi.isConnected());
    EXPECT_EQ (f.ports.getEvents(), juce::StringArray ({ "open Port A" }));

    f.pick (3);
    EXPECT_TRUE (f.midi.isConnected());
    EXPECT_EQ (f.ports.getEvents(), juce::StringArray ({ "open Port A", "close Port A", "open Port C" }));

    f.pick (4);
    EXPECT_FALSE (f.midi.isConnected());
    EXPECT_EQ (f.ports.getEvents(),
               juce::StringArray ({ "open Port A", "close Port A", "open Port C", "close Port C" }));
    EXPECT_FALSE (f.ports.device (2).isOpen);
}

TEST (MidiInterface, ARefusedOpenLeavesItDisconnectedAndStillBroadcasts)
{
    Fixture f ({ "Port A", "Busy" });
    f.ports.device (1).refuseOpen = true;
    pumpUntilQuiet();

    f.pick (1);
    ASSERT_TRUE (f.midi.isConnected());

    const int before = f.changes.count;
    f.pick (2);
    EXPECT_EQ (f.changes.count, before + 1);
    EXPECT_FALSE (f.midi.isConnected());
    EXPECT_EQ (f.midi.getOpenErrorText(), "Input/output error");
    EXPECT_EQ (selectorOf (f.midi).getText(), "(Disconnected)") << "so that picking it again tries again";
    f.pick (2);
    EXPECT_EQ (f.ports.getEvents(),
               juce::StringArray ({ "open Port A", "close Port A", "refused Busy", "refused Busy" }));
}

TEST (MidiInterface, APortHeldElsewhereOrGoneGoesBackToDisconnectedAndSaysWhy)
{
    using Problem = MidiPortList::OpenProblem;
    Fixture f ({ "Port A", "Cantora 2" });
    auto& cantora = f.ports.device (1);
    cantora.inUse = true;
    pumpUntilQuiet();

    f.pick (2);
    EXPECT_FALSE (f.midi.isConnected());
    EXPECT_EQ (f.midi.getOpenProblem(), Problem::inUse);
    EXPECT_EQ (selectorOf (f.midi).getText(), "(Disconnected)") << "so that picking it again tries again";

    // The other program has quit: the same pick opens it.
    cantora.inUse = false;
    f.pick (2);
    EXPECT_TRUE (f.midi.isConnected());
    EXPECT_EQ (f.midi.getOpenProblem(), Problem::none);

    // Gone, or no longer told apart from another of its name, by the time it is picked: nothing
    // opens, and the list is taken anew.
    f.pick (3);
    cantora.present = false;
    f.pick (2);
    EXPECT_FALSE (f.midi.isConnected());
    EXPECT_EQ (f.midi.getOpenProblem(), Problem::notPresent);
    EXPECT_EQ (entriesOf (selectorOf (f.midi)),
               (std::vector<Entry> { { "(Disconnected)", 2 }, { {}, 0 }, { "Port A", 1 } }));
    EXPECT_EQ (selectorOf (f.midi).getSelectedId(), 2);
    EXPECT_EQ (f.ports.getEvents(),
               juce::StringArray ({ "refused Cantora 2", "open Cantora 2", "close Cantora 2" }));
}

TEST (MidiInterface, ChoosingTheEntryShownAgainChangesNothing)
{
    Fixture f ({ "Port A" });
    pumpUntilQuiet();
    const int afterStart = f.changes.count;

    selectorOf (f.midi).setSelectedId (2);
    pumpUntilQuiet();
    EXPECT_EQ (f.changes.count, afterStart);

    f.pick (1);
    selectorOf (f.midi).setSelectedId (1);
    pumpUntilQuiet();
    EXPECT_EQ (f.changes.count, afterStart + 1);
    EXPECT_EQ (f.ports.getEvents(), juce::StringArray ({ "open Port A" }));
}

TEST (MidiInterface, PortListIsTakenOnce)
{
    struct CountingPorts : public InMemoryMidiPorts
    {
        using InMemoryMidiPorts::InMemoryMidiPorts;
        juce::StringArray getOutputNames() override
        {
            ++listings;
            return InMemoryMidiPorts::getOutputNames();
        }
        int listings = 0;
    } ports ({ "Port A" });

    MidiInterfaceClass midi (ports);
    pumpUntilQuiet();
    selectorOf (midi).setSelectedId (1);
    pumpUntilQuiet();
    EXPECT_EQ (ports.listings, 1);
    EXPECT_EQ (selectorOf (midi).getNumItems(), 2);
}

//==============================================================================

TEST (MidiInterface, WriteSendsTheBytesUnchangedAsOneMessage)
{
    Fixture f ({ "Port A" });
    const juce::uint8 message[] = { 0xF0, 0x00, 0x7F, 0x7F, 0x00, 0x60, 0x52, 0x01, 0xF7 };

    EXPECT_EQ (f.midi.write (message, 9), 0) << "no port open: nothing sent";
    EXPECT_EQ (f.ports.device (0).getNumMessages(), 0u);

    f.pick (1);
    EXPECT_EQ (f.midi.write (message, 9), 9);

    const auto received = f.ports.device (0).getMessages();
    ASSERT_EQ (received.size(), 1u);
    EXPECT_EQ (received[0].bytes, std::vector<juce::uint8> (message, message + 9));
    EXPECT_EQ (received[0].source, message) << "handed on without a copy of its own";

    juce::uint8 readBuffer[16] {};
    EXPECT_EQ (f.midi.read (readBuffer, 16), 0);
    EXPECT_EQ (f.midi.read (readBuffer, 0), 0);
}

TEST (MidiInterface, APortThatFailsIsClosedAndTheChooserShowsDisconnected)
{
    Fixture f ({ "Port A" });
    f.pick (1);
    f.ports.device (0).gone = true;

    const juce::uint8 message[] = { 0xF0, 0x01, 0xF7 };
    const int changesBefore = f.changes.count;
    EXPECT_EQ (f.midi.write (message, 3), 0);
    EXPECT_FALSE (f.midi.isConnected()) << "at once, before the message thread has closed it";
    EXPECT_EQ (f.midi.write (message, 3), 0);
    EXPECT_FALSE (f.midi.confirmDelivery());
    EXPECT_FALSE (f.midi.stoppedTakingData()) << "gone, not stopped";

    pumpUntilQuiet();
    EXPECT_EQ (selectorOf (f.midi).getText(), "(Disconnected)");
    EXPECT_EQ (f.changes.count, changesBefore + 1);
    EXPECT_EQ (f.ports.getEvents(), juce::StringArray ({ "open Port A", "close Port A" }));
    EXPECT_EQ (f.ports.device (0).getNumMessages(), 0u);

    // Picking it again reopens it.
    f.ports.device (0).gone = false;
    f.pick (1);
    EXPECT_TRUE (f.midi.isConnected());
    EXPECT_EQ (f.midi.write (message, 3), 3);
    EXPECT_TRUE (f.midi.confirmDelivery());
}

TEST (MidiInterface, FollowingARestartClosesOnlyThePortOfTheDeviceWatched)
{
    Fixture f ({ "Port A", "Port B" });
    f.pick (1);
    RestartWatch watch (f.ports, [&] { f.midi.followRestart (watch); });
    watch.watch (f.midi.getOpenDevice());

    // Port B picked since the update: A leaving does not close it.
    f.pick (2);
    f.ports.device (0).present = false;
    ASSERT_TRUE (pumpUntil ([&] { return watch.getState() == RestartWatch::State::away; }));
    EXPECT_TRUE (f.midi.isConnected());
    EXPECT_TRUE (f.ports.device (1).isOpen);

    // A comes back: with B open the list stays as it is.
    f.ports.device (0).present = true;
    ASSERT_TRUE (pumpUntil ([&] { return watch.getState() == RestartWatch::State::restarted; }));
    EXPECT_EQ (selectorOf (f.midi).getText(), "Port B");
}

TEST (MidiInterface, AStallIsStillToldAfterTheChooserHasGoneBackToDisconnected)
{
    // The transfer thread asks what failed after the message thread may already have shown
    // "(Disconnected)": the answer must not depend on which of the two came first.
    Fixture f ({ "Port A" });
    f.pick (1);
    f.ports.device (0).stopsTakingDataAfter = 0;

    const juce::uint8 message[] = { 0xF0, 0x01, 0xF7 };
    EXPECT_EQ (f.midi.write (message, 3), 0);
    pumpUntilQuiet();
    EXPECT_EQ (selectorOf (f.midi).getText(), "(Disconnected)");
    EXPECT_TRUE (f.midi.stoppedTakingData());

    f.ports.device (0).stopsTakingDataAfter = -1;
    f.pick (1);
    EXPECT_FALSE (f.midi.stoppedTakingData()) << "a port picked again has not stalled";
}

TEST (MidiInterface, AChangeOfPortWaitsForTheSendInFlight)
{
    Fixture f ({ "Held port" });
    f.pick (1);
    auto& device = f.ports.device (0);
    device.holdBeforeMessage (0);

    const juce::uint8 message[] = { 0xF0, 0x01, 0x02, 0xF7 };
    std::atomic<int> written { -1 };
    std::thread sender ([&] { written = f.midi.write (message, 4); });

    while (! device.isHolding())
        std::this_thread::yield();

    // The change of port below must wait for the held send. The send is let go as soon as the port
    // has been closed under it, or otherwise after a while: the release can only hide a fault that
    // has not shown by then, never fail a sound change.
    std::thread releaser (
        [&]
        {
            for (int i = 0; i < 100 && device.isOpen; ++i)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));

            device.release();
        });

    f.pick (2);
    sender.join();
    releaser.join();

    EXPECT_EQ (written, 4);
    EXPECT_EQ (device.getNumMessages(), 1u);
    EXPECT_EQ (f.ports.getEvents(), juce::StringArray ({ "open Held port", "close Held port" }));
}
