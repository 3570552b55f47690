#include "midi/MidiInterfaceClass.h"
#include "support/InMemoryMidiPorts.h"
#include "support/ChangeCounter.h"
#include "support/MessageLoop.h"
#include "support/ScreenProbe.h"

#include <gtest/gtest.h>

#include <thread>

using testing_support::pumpFor;
using testing_support::pumpUntil;

namespace
{

juce::ComboBox& selectorOf (juce::Component& c)
{
    return *screen_probe::find<juce::ComboBox> (c);
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
        midi.addChangeListener (&changes);
        midi.setSize (300, midi.getPreferredHeight());
    }

    ~Fixture() { midi.removeChangeListener (&changes); }

    // Picks an entry as the user's choice does, and waits until the component has broadcast it.
    void pick (int id)
    {
        const int before = changes.count;
        selectorOf (midi).setSelectedId (id);
        EXPECT_TRUE (pumpUntil ([&] { return changes.count > before; }));
    }

    InMemoryMidiPorts ports;
    MidiInterfaceClass midi;
    ChangeCounter changes;
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

    pumpFor (100);
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

    pumpFor (100);
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
    pumpFor (50);

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
    pumpFor (50);

    f.pick (1);
    ASSERT_TRUE (f.midi.isConnected());

    const int before = f.changes.count;
    f.pick (2);
    EXPECT_EQ (f.changes.count, before + 1);
    EXPECT_FALSE (f.midi.isConnected());
    EXPECT_EQ (selectorOf (f.midi).getText(), "Busy");
    EXPECT_EQ (f.ports.getEvents(), juce::StringArray ({ "open Port A", "close Port A", "refused Busy" }));
}

TEST (MidiInterface, ChoosingTheEntryShownAgainChangesNothing)
{
    Fixture f ({ "Port A" });
    pumpFor (50);
    const int afterStart = f.changes.count;

    selectorOf (f.midi).setSelectedId (2);
    pumpFor (100);
    EXPECT_EQ (f.changes.count, afterStart);

    f.pick (1);
    selectorOf (f.midi).setSelectedId (1);
    pumpFor (100);
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
    pumpFor (50);
    selectorOf (midi).setSelectedId (1);
    pumpFor (50);
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

TEST (MidiInterface, WriteReportsASendThatReachedNothing)
{
    Fixture f ({ "Port A" });
    f.pick (1);
    f.ports.device (0).gone = true;

    const juce::uint8 message[] = { 0xF0, 0x01, 0xF7 };
    EXPECT_EQ (f.midi.write (message, 3), 0);
    EXPECT_EQ (f.ports.device (0).getNumMessages(), 0u);
}

TEST (MidiInterface, AChangeOfPortWaitsForTheSendInFlight)
{
    Fixture f ({ "Slow port" });
    f.pick (1);
    f.ports.device (0).microsecondsPerMessage = 300000;

    const juce::uint8 message[] = { 0xF0, 0x01, 0x02, 0xF7 };
    std::atomic<int> written { -1 };
    std::thread sender ([&] { written = f.midi.write (message, 4); });

    // Wait until the send is inside the port, then close the port from the message thread.
    while (f.ports.device (0).sendsInFlight == 0)
        std::this_thread::yield();

    f.pick (2);
    sender.join();

    EXPECT_EQ (written, 4);
    EXPECT_EQ (f.ports.device (0).getNumMessages(), 1u);
    EXPECT_EQ (f.ports.getEvents(), juce::StringArray ({ "open Slow port", "close Slow port" }));
}
