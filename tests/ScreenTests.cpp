#include "screens/ContentComp.h"
#include "screens/Guidance.h"
#include "support/ChangeWatcher.h"
#include "support/InMemoryMidiPorts.h"
#include "support/MessageLoop.h"
#include "support/ScreenProbe.h"

#include <gtest/gtest.h>

using namespace testing_support;
using testing_support::pumpUntil;
using testing_support::pumpUntilQuiet;

namespace
{
const juce::Colour lightGreen (0xFF7EBF7E);
const juce::Colour lightRed (0xFFFF7E7E);

// The update screen at the size the main window gives it, on two in-memory ports, driven through its
// own components as a user drives it.
struct ScreenFixture : public ::testing::Test
{
    ScreenFixture()
        : ports ({ "Cantora 2", "Other port" })
        , screen (std::make_unique<ContentComp> (nullptr, "--ignored", ports, &image))
    {
        screen->setSize (642, 366);

        // A real window on the (virtual) display, as the main window puts it there.
        screen->addToDesktop (juce::ComponentPeer::windowHasDropShadow);
        screen->setVisible (true);
    }

    ~ScreenFixture() override
    {
        if (auto* alert = juce::Component::getCurrentlyModalComponent())
            alert->exitModalState (0);

        ports.device (0).release();
        screen = nullptr;
        pumpUntilQuiet();
    }

    MidiInterfaceClass& midi() { return *find<MidiInterfaceClass> (*screen); }
    juce::TextButton& update() { return *button (*screen, "update"); }
    juce::TextButton& help() { return *button (*screen, "Help"); }
    juce::String guidance()
    {
        return find<juce::Label> (*screen, [] (juce::Label& l) { return l.getName() == "guidance"; })
            ->getText();
    }
    juce::String guidanceFor (ProtocolBaseClass::Outcome outcome,
                              MidiPortList::OpenProblem problem = MidiPortList::OpenProblem::none)
    {
        return guidanceText (outcome, RestartWatch::State::off, problem, {});
    }
    /** The status under the bar and the guidance line are those of this failure. */
    void expectFailure (const juce::String& reason, ProtocolBaseClass::Outcome outcome)
    {
        EXPECT_EQ (caption(), "Update progress: Update failed: " + reason);
        EXPECT_EQ (guidance(), guidanceFor (outcome));
    }
    juce::String caption()
    {
        auto* bar = find<juce::ProgressBar> (*screen);
        return find<juce::Label> (*screen, [bar] (juce::Label& l) { return l.getAttachedComponent() == bar; })
            ->getText();
    }

    void pickPort (int id)
    {
        find<juce::ComboBox> (midi())->setSelectedId (id);
        pumpUntil (
            [&]
            { return midi().isConnected() == (id <= 2) && update().isEnabled() == midi().isConnected(); });
    }

    // Clicks update and waits until the click has been handled: the marker posted after the click
    // runs once the click's own message has been dispatched.
    void pressUpdate()
    {
        update().triggerClick();
        bool handled = false;
        juce::MessageManager::callAsync ([&handled] { handled = true; });
        pumpUntil ([&handled] { return handled; });
    }

    // Waits until the transfer thread has ended and everything it posted has been handled.
    bool transferEnds()
    {
        // A hang bound: a whole transfer took 38 s on a machine loaded with builds and busy loops.
        const bool ended = pumpUntil ([&] { return ! screen->protocol->isThreadRunning(); }, 120000);
        pumpUntilQuiet();
        return ended;
    }

    void expectDone()
    {
        EXPECT_EQ (barValue (*screen), 1.0);
        EXPECT_EQ (caption(), "Update progress: Update completed");
        EXPECT_TRUE (update().isEnabled());
        EXPECT_TRUE (midi().isEnabled());
    }

    void expectImageReceived (size_t firstMessage = 0)
    {
        const auto bytes = ports.device (0).getReceivedBytes();
        const auto& firmware = *screen->descriptor;
        ASSERT_GE (bytes.size(), firmware.size);
        EXPECT_TRUE (
            std::equal (bytes.begin() + (long) (bytes.size() - firmware.size), bytes.end(), firmware.data));
        EXPECT_EQ (ports.device (0).getNumMessages() - firstMessage, 2696u);
    }

    InMemoryMidiPorts ports;
    FirmwareDescriptor image =
        EmbeddedFirmware(); // what the screen sends: the carried image, unless a test changes it
    std::unique_ptr<ContentComp> screen;
};
} // namespace

using UpdateScreen = ScreenFixture;

TEST_F (UpdateScreen, StartsWithTheButtonDisabledAndLightRed)
{
    EXPECT_FALSE (update().isEnabled());
    EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightRed);
    EXPECT_EQ (juce::Colours::red.brighter (0.99f), lightRed);
    EXPECT_EQ (barValue (*screen), 0.0);
    EXPECT_EQ (caption(), "Update progress:");
    EXPECT_EQ (update().getTooltip(), "click here to update the product");
    EXPECT_EQ (help().getTooltip(), "click here to get help");
    EXPECT_EQ (help().findColour (juce::TextButton::buttonColourId), juce::Colour (0xFFEFF2F3));
    EXPECT_TRUE (update().isConnectedOnLeft());

    // The port chooser's one broadcast after start-up leaves all of it as it was.
    pumpUntilQuiet();
    EXPECT_FALSE (update().isEnabled());
    EXPECT_TRUE (midi().isEnabled());
}

TEST_F (UpdateScreen, PickingAPortTurnsTheButtonLightGreenAndDisconnectingTurnsItBack)
{
    pickPort (1);
    EXPECT_TRUE (update().isEnabled());
    EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightGreen);
    EXPECT_EQ (juce::Colours::green.brighter (0.99f), lightGreen);

    pickPort (3);
    EXPECT_FALSE (update().isEnabled());
    EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightRed);

    // A port that does not open says why under the bar, and the chooser goes back to "(Disconnected)",
    // so that picking the same entry again tries again.
    using Problem = MidiPortList::OpenProblem;
    const auto pickRefused = [&] (Problem expected)
    {
        find<juce::ComboBox> (midi())->setSelectedId (2);
        pumpUntilQuiet();
        EXPECT_EQ (midi().getOpenProblem(), expected);
        EXPECT_EQ (find<juce::ComboBox> (midi())->getText(), "(Disconnected)");
        EXPECT_FALSE (update().isEnabled()) << "a port that does not open leaves the button disabled";
        EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightRed);
    };

    ports.device (1).refuseOpen = true;
    pickRefused (Problem::failed);
    EXPECT_EQ (guidance(),
               "The port did not open (Input/output error): reconnect the device and pick it again.");
    pickRefused (Problem::failed);
    EXPECT_EQ (ports.getEvents().joinIntoString (","),
               "open Cantora 2,close Cantora 2,refused Other port,refused Other port");

    ports.device (1).refuseOpen = false;
    ports.device (1).inUse = true;
    pickRefused (Problem::inUse);
    EXPECT_EQ (guidance(),
               "This port is in use by another program: quit other MIDI applications and pick it again.");

    ports.device (1).inUse = false;
    ports.device (1).notAllowed = true;
    pickRefused (Problem::notAllowed);
    EXPECT_EQ (guidance(), guidanceFor (ProtocolBaseClass::Outcome::none, Problem::notAllowed));
#if JUCE_LINUX
    EXPECT_TRUE (guidance().contains ("audio group")) << guidance();
#else
    EXPECT_TRUE (guidance().contains ("administrator")) << guidance();
#endif

    ports.device (1).notAllowed = false;
    ports.device (1).present = false;
    pickRefused (Problem::notPresent);
    EXPECT_EQ (guidance(), "The device is no longer there: connect it, then pick it again from the list.");

    pickPort (1);
    EXPECT_EQ (guidance(), "");
}

TEST_F (UpdateScreen, RunsAWholeUpdateAndAnotherFromDone)
{
    pickPort (1);
    std::atomic<int> writesWhileChooserEnabled { 0 };
    MessageThreadLock transferThreadLock (*screen->protocol);
    ports.device (0).onSend = [&]
    {
        // On the transfer thread: the component is read under the message-thread lock, as it is written.
        const MessageThreadLock::ScopedAcquire mmLock (transferThreadLock);
        writesWhileChooserEnabled += midi().isEnabled() ? 1 : 0;
    };

    // What the click itself leaves: a message posted when the click arrives runs right after its
    // handling, before anything the transfer posts. It also runs after the marker that pressUpdate()
    // posted behind the click, so each check first waits for it.
    struct ClickWitness : public juce::Button::Listener
    {
        explicit ClickWitness (ScreenFixture& f)
            : fixture (f)
        {
        }
        void buttonClicked (juce::Button*) override
        {
            juce::MessageManager::callAsync (
                [this]
                {
                    barAtClick = barValue (*fixture.screen);
                    enabledAtClick = fixture.update().isEnabled();
                    seen = true;
                });
        }
        ScreenFixture& fixture;
        double barAtClick = -1.0;
        bool enabledAtClick = true;
        bool seen = false;
    } witness (*this);
    update().addListener (&witness);

    pressUpdate();
    ASSERT_TRUE (pumpUntil ([&] { return witness.seen; }));
    EXPECT_FALSE (witness.enabledAtClick) << "disabled at once";
    EXPECT_EQ (witness.barAtClick, 0.0);
    EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightGreen);

    ASSERT_TRUE (transferEnds());
    expectImageReceived();
    EXPECT_EQ (writesWhileChooserEnabled, 0) << "the port chooser stays disabled while the image goes out";
    expectDone();
    EXPECT_EQ (guidance(), guidanceFor (ProtocolBaseClass::Outcome::completed));
    EXPECT_TRUE (guidance().contains ("restart")) << guidance();

    witness.seen = false;
    pressUpdate();
    ASSERT_TRUE (pumpUntil ([&] { return witness.seen; }));
    EXPECT_EQ (witness.barAtClick, 0.0) << "from 100% straight back to 0% on the click";
    EXPECT_FALSE (witness.enabledAtClick);
    ASSERT_TRUE (transferEnds());
    expectImageReceived (2696);
    EXPECT_EQ (caption(), "Update progress: Update completed");
    ports.device (0).onSend = nullptr;
    update().removeListener (&witness);
}

TEST_F (UpdateScreen, UpdateWithNoPortOpenShowsTheAlertAndStartsNothing)
{
    // Reach the alert the way it can happen: the button is enabled, and the port closes just before
    // the click, so the screen has not yet heard of it when the click arrives.
    pickPort (1);
    find<juce::ComboBox> (midi())->setSelectedId (3);
    update().triggerClick();
    ASSERT_TRUE (pumpUntil ([] { return juce::Component::getCurrentlyModalComponent() != nullptr; }));

    auto* alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
    ASSERT_NE (alert, nullptr);
    EXPECT_EQ (alert->getDescription(), ". Please select an output device:");
    EXPECT_EQ (alert->getAlertType(), juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (alert->getNumButtons(), 1);

    const auto sent = ports.device (0).getNumMessages();
    EXPECT_EQ (barValue (*screen), 0.0) << "nothing else changes";
    EXPECT_EQ (caption(), "Update progress:");
    EXPECT_FALSE (screen->protocol->isThreadRunning());

    find<juce::TextButton> (*alert)->triggerClick();
    ASSERT_TRUE (pumpUntil ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }));
    EXPECT_EQ (ports.device (0).getNumMessages(), sent);
}

TEST_F (UpdateScreen, APortThatGoesAwayShowsTheFailureAndDisconnectedAndARetryCompletes)
{
    pickPort (1);
    ports.device (0).goesAwayAfter = 1000;
    pressUpdate();
    ASSERT_TRUE (transferEnds());

    expectFailure ("the MIDI port was closed or disconnected", ProtocolBaseClass::Outcome::portFailed);
    EXPECT_GT (barValue (*screen), 0.0);
    EXPECT_LT (barValue (*screen), 1.0) << "the bar stays where the transfer stopped";

    // As if the user had picked "(Disconnected)": the port is closed and nothing can be started.
    EXPECT_EQ (find<juce::ComboBox> (midi())->getText(), "(Disconnected)");
    EXPECT_FALSE (ports.device (0).isOpen);
    EXPECT_FALSE (update().isEnabled());
    EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightRed);
    EXPECT_TRUE (midi().isEnabled());

    // The device is back: picking it again reopens it, and a retry sends the whole image.
    ports.device (0).goesAwayAfter = -1;
    ports.device (0).gone = false;
    pickPort (1);
    EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightGreen);
    pressUpdate();
    ASSERT_TRUE (transferEnds());
    expectImageReceived (1000);
    expectDone();
}

TEST_F (UpdateScreen, ADeviceThatStopsTakingDataGetsTheRecoveryGuidanceAndAnnouncements)
{
    juce::StringArray heard;
    screen->announce = [&heard] (const juce::String& text) { heard.add (text); };

    pickPort (1);
    ports.device (0).stopsTakingDataAfter = 500;
    pressUpdate();
    ASSERT_TRUE (transferEnds());

    expectFailure ("the device stopped taking data", ProtocolBaseClass::Outcome::deviceStopped);
    EXPECT_TRUE (guidance().contains ("Help") && guidance().contains ("part or all")) << guidance();

    // The status and the guidance each when it changes: broadcasts coalesce, so a busy machine may
    // skip the first ones, and the chooser's own change may bring the guidance before the status.
    // Never the same twice in a row, never a percentage, and the failure with its guidance last.
    const auto said = heard.joinIntoString (" | ");
    ASSERT_GE (heard.size(), 2) << said;
    EXPECT_TRUE (heard.indexOf ("Update failed: the device stopped taking data") >= heard.size() - 2) << said;
    EXPECT_TRUE (heard.indexOf (guidance()) >= heard.size() - 2) << said;

    for (int i = 0; i < heard.size(); ++i)
    {
        EXPECT_FALSE (heard[i].endsWithChar ('%')) << said;
        EXPECT_TRUE (i == 0 || heard[i] != heard[i - 1]) << said;
    }
}

TEST_F (UpdateScreen, AfterCompletedItWatchesTheDeviceRestartWithoutHoldingItBack)
{
    using State = RestartWatch::State;
    auto& watch = screen->getRestartWatch();
    const auto completedWith = [&] (State state) {
        return guidanceText (ProtocolBaseClass::Outcome::completed, state, MidiPortList::OpenProblem::none,
                             {});
    };
    auto& cantora = ports.device (0);
    cantora.identity = "usb 1-1 serial A";
    ports.getOutputNames(); // as the chooser lists it: with its identity
    watch.limitMilliseconds = 60000;

    // Leaves after the last message and comes back (found by its identity).
    pickPort (1);
    pressUpdate();
    ASSERT_TRUE (transferEnds());
    EXPECT_EQ (watch.getState(), State::waitingToLeave);
    EXPECT_EQ (guidance(), completedWith (State::off));
    cantora.present = false;
    ASSERT_TRUE (pumpUntil ([&] { return watch.getState() == State::away; }));
    EXPECT_EQ (guidance(), completedWith (State::off)) << "still on its way";

    // Its port is dead once it has left: let go of, and update is not offered on it.
    EXPECT_TRUE (pumpUntil ([&] { return ! update().isEnabled(); }));
    EXPECT_FALSE (cantora.isOpen);
    EXPECT_EQ (find<juce::ComboBox> (midi())->getText(), "(Disconnected)");
    EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightRed);
    EXPECT_EQ (watch.getState(), State::away) << "letting go of the port is no pick";

    // Picked while it is still away: nothing opens, and the watch goes on, to list it once it is back.
    find<juce::ComboBox> (midi())->setSelectedId (1);
    ASSERT_TRUE (
        pumpUntil ([&] { return midi().getOpenProblem() == MidiPortList::OpenProblem::notPresent; }));
    EXPECT_EQ (watch.getState(), State::away);

    cantora.present = true;
    ASSERT_TRUE (pumpUntil ([&] { return watch.getState() == State::restarted; }));
    EXPECT_FALSE (watch.isWatching());
    EXPECT_TRUE (guidance().contains ("came back")) << guidance();
    EXPECT_FALSE (guidance().containsIgnoreCase ("firmware")) << "coming back proves no firmware";
    EXPECT_EQ (caption(), "Update progress: Update completed") << "the status stays";

    // Picked again and updated again: it opens anew, once, and takes the whole image.
    const auto opens = [&]
    {
        const auto events = ports.getEvents();
        return std::count (events.begin(), events.end(), juce::String ("open Cantora 2"));
    };
    const auto opensBefore = opens();
    pickPort (1);
    pressUpdate();
    EXPECT_EQ (opens(), opensBefore + 1) << "a port picked since the last update is not opened twice";
    ASSERT_TRUE (transferEnds());
    expectImageReceived (2696);
    expectDone();

    // A restart too quick for the watch leaves the port dead all the same: update again opens the
    // device anew instead of failing on it.
    ++cantora.restarts;
    pressUpdate();
    ASSERT_TRUE (transferEnds());
    expectImageReceived (2 * 2696);
    expectDone();

    // Never leaves: after the limit (shortened here from two minutes) the watch stops taking the list
    // and the line says what to do; a pick ends the watch.
    watch.limitMilliseconds = 1000;
    ASSERT_TRUE (pumpUntil ([&] { return watch.getState() == State::didNotLeave; }));
    EXPECT_FALSE (watch.isWatching());
    EXPECT_EQ (guidance(), completedWith (State::didNotLeave));
    EXPECT_TRUE (guidance().contains ("recovery procedure")) << guidance();
    pickPort (2);
    EXPECT_TRUE (pumpUntil ([&] { return watch.getState() == State::off; }));

    // Leaves and stays away.
    pickPort (1);
    pressUpdate();
    ASSERT_TRUE (transferEnds());
    cantora.present = false;
    ASSERT_TRUE (pumpUntil ([&] { return watch.getState() == State::didNotReturn; }));
    EXPECT_FALSE (watch.isWatching());
    EXPECT_EQ (guidance(), completedWith (State::didNotReturn));
    EXPECT_FALSE (ports.getEvents().joinIntoString (",").contains ("refused")) << "the watch opens nothing";
}

TEST_F (UpdateScreen, TheRestartWatchFollowsTheDeviceNeverItsNameOrOneList)
{
    using State = RestartWatch::State;
    auto& watch = screen->getRestartWatch();
    watch.limitMilliseconds = 60000;
    auto& cantora = ports.device (0);
    cantora.identity = "usb 1-1 serial A";
    ports.getOutputNames();

    pickPort (1);
    pressUpdate();
    ASSERT_TRUE (transferEnds());
    ASSERT_EQ (watch.getState(), State::waitingToLeave);

    // A list on which it did not answer, or could not be identified, decides nothing.
    cantora.unansweredLists = 1;
    ASSERT_TRUE (pumpUntil ([&] { return cantora.unansweredLists == 0; }));
    cantora.unidentifiedLists = 1;
    ASSERT_TRUE (pumpUntil ([&] { return cantora.unidentifiedLists == 0; }));
    const int listsBefore = ports.getNumListsTaken();
    ASSERT_TRUE (pumpUntil ([&] { return ports.getNumListsTaken() > listsBefore; }));
    EXPECT_EQ (watch.getState(), State::waitingToLeave) << "a missed list is no leave";

    // It leaves, and a twin of its name (same socket, no serial) is plugged in: the twin is not the
    // device coming back, and picking the device's entry again does not open the twin.
    cantora.present = false;
    auto& twin = ports.plugIn ("Cantora 2", "usb 1-1");
    ASSERT_TRUE (pumpUntil ([&] { return watch.getState() == State::away; }));
    watch.limitMilliseconds = 1000;
    ASSERT_TRUE (pumpUntil ([&] { return watch.getState() == State::didNotReturn; }));

    find<juce::ComboBox> (midi())->setSelectedId (1);
    ASSERT_TRUE (
        pumpUntil ([&] { return midi().getOpenProblem() == MidiPortList::OpenProblem::notPresent; }));
    EXPECT_FALSE (midi().isConnected());
    EXPECT_FALSE (twin.isOpen);
    EXPECT_EQ (twin.getNumMessages(), 0u);
}

TEST_F (UpdateScreen, EveryGuidanceFitsItsRowWithTheScreensFont)
{
    using Outcome = ProtocolBaseClass::Outcome;
    using Problem = MidiPortList::OpenProblem;
    auto& row = *find<juce::Label> (*screen, [] (juce::Label& l) { return l.getName() == "guidance"; });
    const auto area = row.getBorderSize().subtractedFrom (row.getLocalBounds()).toFloat();
    const auto font = row.getFont();
    const int lines = juce::jmax (1, (int) (area.getHeight() / font.getHeight()));
    EXPECT_EQ (lines, 2);

    for (auto outcome : { Outcome::none, Outcome::uploading, Outcome::completed, Outcome::portFailed,
                          Outcome::deviceStopped, Outcome::imageDamaged })
    {
        for (auto problem :
             { Problem::none, Problem::inUse, Problem::notAllowed, Problem::notPresent, Problem::failed })
            for (auto restart : { RestartWatch::State::off, RestartWatch::State::restarted,
                                  RestartWatch::State::didNotLeave, RestartWatch::State::didNotReturn })
            {
                // As the label draws it: fitted into its lines, never squeezed; a text that does not fit
                // loses its end to an ellipsis.
                const auto text = guidanceText (outcome, restart, problem, "Device or resource busy");
                juce::GlyphArrangement glyphs;
                glyphs.addFittedText (font, text, area.getX(), area.getY(), area.getWidth(), area.getHeight(),
                                      row.getJustificationType(), lines, row.getMinimumHorizontalScale());
                juce::String drawn;

                for (auto& glyph : glyphs)
                    drawn << juce::String::charToString (glyph.getCharacter());

                EXPECT_EQ (drawn.removeCharacters (" "), text.removeCharacters (" ")) << text;
            }
    }
}

TEST_F (UpdateScreen, ControlsHaveNamesThatSpeakForThemselves)
{
    const auto spoken = [] (juce::Component& c)
    {
        auto* handler = c.getAccessibilityHandler();
        return handler == nullptr ? juce::String ("(none)")
                                  : handler->getTitle() + " | " + handler->getDescription();
    };

    EXPECT_EQ (
        spoken (*find<juce::ComboBox> (midi())),
        "MIDI output port | The port of the device to update. Once it is open, the update button turns "
        "green.");
    EXPECT_EQ (spoken (help()),
               "Help | Opens the help: how to prepare the device, and the recovery procedure.");
    EXPECT_EQ (spoken (update()), "Update | Sends the firmware to the device picked as MIDI output port. "
                                  "Available once that port is open.");
    EXPECT_EQ (spoken (*find<juce::ProgressBar> (*screen)),
               "Update progress | How much of the firmware has been sent.");
    EXPECT_EQ (barText (*screen), "0%");
    EXPECT_EQ (find<juce::ComboBox> (midi())
                   ->getAccessibilityHandler()
                   ->getValueInterface()
                   ->getCurrentValueAsString(),
               "(Disconnected)");

    pickPort (1);
    ports.device (0).holdBeforeMessage (1000);
    pressUpdate();
    ASSERT_TRUE (pumpUntil ([&] { return ports.device (0).isHolding() && barValue (*screen) > 0.0; }));
    pumpUntilQuiet();
    EXPECT_EQ (barText (*screen),
               juce::String (juce::roundToInt (screen->protocol->progress.load() * 100.0)) + "%")
        << "the share of the image sent, as the bar shows it";
    ports.device (0).release();
    ASSERT_TRUE (transferEnds());
    EXPECT_EQ (barText (*screen), "100%");

    auto& row = *find<juce::Label> (*screen, [] (juce::Label& l) { return l.getName() == "guidance"; });
    EXPECT_EQ (spoken (row), guidance() + " | What happens now, and what to do next.");
}

TEST_F (UpdateScreen, TheKeyboardMovesHelpChooserUpdateAndShowsWhereItIs)
{
    pickPort (1);
    auto& chooser = *find<juce::ComboBox> (midi());
    help().grabKeyboardFocus();
    ASSERT_TRUE (pumpUntil ([&] { return help().hasKeyboardFocus (false); }));

    // Keys as the window receives them from the system, handed to the focused component.
    const auto press = [&] (int key) { screen->getPeer()->handleKeyPress (juce::KeyPress (key)); };

    // A ring in the focus colour just above the focused control, and none above the others.
    const auto ringAbove = [&] (juce::Component& c)
    {
        const auto snapshot = screen->createComponentSnapshot (screen->getLocalBounds());
        const auto area = screen->getLocalArea (&c, c.getLocalBounds());
        return snapshot.getPixelAt (area.getX() + 20, area.getY() - 2) ==
               screen->findColour (juce::TextEditor::focusedOutlineColourId);
    };
    EXPECT_TRUE (ringAbove (help()));
    EXPECT_FALSE (ringAbove (chooser));

    press (juce::KeyPress::tabKey);
    EXPECT_TRUE (chooser.hasKeyboardFocus (false));
    EXPECT_TRUE (ringAbove (chooser));
    press (juce::KeyPress::tabKey);
    EXPECT_TRUE (update().hasKeyboardFocus (false));
    EXPECT_TRUE (ringAbove (update()));
    EXPECT_FALSE (ringAbove (help()));

    // Space presses the focused button, as Return does.
    press (juce::KeyPress::spaceKey);
    ASSERT_TRUE (pumpUntil ([&] { return ports.device (0).getNumMessages() > 0; }));
    ASSERT_TRUE (transferEnds());
    expectDone();
}

TEST_F (UpdateScreen, ADamagedImageShowsTheFailureAndKeepsThePort)
{
    const juce::uint8 damaged[] = { 0xF0, 0x01, 0xF7, 0xF0, 0x02 };
    image.data = damaged;
    image.size = sizeof (damaged);

    pickPort (1);
    pressUpdate();
    ASSERT_TRUE (transferEnds());
    expectFailure ("the firmware image is damaged", ProtocolBaseClass::Outcome::imageDamaged);
    EXPECT_EQ (ports.device (0).getNumMessages(), 1u);
    EXPECT_TRUE (midi().isEnabled());
    EXPECT_TRUE (update().isEnabled());
    EXPECT_EQ (update().findColour (juce::TextButton::buttonColourId), lightGreen);

    image = EmbeddedFirmware();
    pressUpdate();
    ASSERT_TRUE (transferEnds());
    expectImageReceived (1);
}

TEST_F (UpdateScreen, APortChangeDuringATransferTogglesTheChooser)
{
    pickPort (1);
    ports.device (0).holdBeforeMessage (1000);
    pressUpdate();
    ASSERT_TRUE (pumpUntil ([&] { return ports.device (0).isHolding() && barValue (*screen) > 0.0; }));
    pumpUntilQuiet();
    ASSERT_FALSE (midi().isEnabled()) << "disabled by the transfer";
    EXPECT_EQ (guidance(), "Do not unplug the device or close this window until the update has completed.");

    // Mid-transfer, each change message from the chooser turns its enabled state over.
    midi().sendChangeMessage();
    pumpUntilQuiet();
    EXPECT_TRUE (midi().isEnabled());
    midi().sendChangeMessage();
    pumpUntilQuiet();
    EXPECT_FALSE (midi().isEnabled());

    ports.device (0).release();
    ASSERT_TRUE (transferEnds());
    expectDone();
}

TEST_F (UpdateScreen, EnablesItsControlsItselfAtAHundredPercent)
{
    // Called before the screen for the same broadcast (listeners are called last-added first). At
    // the first 100% the thread has not yet given the chooser back: its request for the lock is
    // queued behind this broadcast. It is stopped here, so it never does.
    auto& protocol = *screen->protocol;
    const ChangeWatcher stopper (protocol,
                                 [&protocol]
                                 {
                                     if (protocol.progress.load() == 1.0)
                                         protocol.signalThreadShouldExit();
                                 });

    pickPort (1);
    pressUpdate();
    ASSERT_TRUE (transferEnds());

    EXPECT_EQ (barValue (*screen), 1.0);
    EXPECT_TRUE (update().isEnabled());
    EXPECT_TRUE (midi().isEnabled()) << "the screen's own doing: the stopped thread gave nothing back";
}

TEST_F (UpdateScreen, PressingUpdateAsATransferEndsNeverLeavesTheControlsDisabled)
{
    // Presses update the way a click does, right after the screen has handled a broadcast (it is
    // registered before the screen, so it is called after it), at one moment of the transfer's end.
    struct Presser
    {
        enum class Moment
        {
            atDoneWhileTheThreadFinishes, // the thread waits for the message thread to give back the chooser
            rightAfterTheThreadGaveItBack,
            atAFailureWhileTheThreadFinishes
        };

        Presser (ScreenFixture& f, Moment m)
            : fixture (f)
            , moment (m)
        {
        }

        void onChange()
        {
            auto& protocol = *fixture.screen->protocol;
            const bool ending =
                protocol.progress.load() == 1.0 || ProtocolBaseClass::isFailure (protocol.getOutcome());

            if (pressed || ! ending)
                return;

            pressed = true;
            wasRunning = protocol.isThreadRunning();

            if (moment == Moment::rightAfterTheThreadGaveItBack)
                juce::MessageManager::callAsync ([this] { press(); });
            else
                press();
        }

        void press()
        {
            if (fixture.update().isEnabled())
                fixture.screen->buttonClicked (&fixture.update());
        }

        ScreenFixture& fixture;
        Moment moment;
        bool pressed = false, wasRunning = false;
        const ChangeWatcher watcher { *fixture.screen->protocol, [this] { onChange(); } };
    };

    const juce::uint8 damaged[] = { 0xF0, 0x01, 0xF7, 0xF0, 0x02 };
    const EmbeddedFirmware carried;
    pickPort (1);

    for (auto moment :
         { Presser::Moment::atDoneWhileTheThreadFinishes, Presser::Moment::rightAfterTheThreadGaveItBack,
           Presser::Moment::atAFailureWhileTheThreadFinishes })
    {
        SCOPED_TRACE ((int) moment);
        const bool fails = moment == Presser::Moment::atAFailureWhileTheThreadFinishes;
        image.data = fails ? damaged : carried.data;
        image.size = fails ? (juce::uint32) sizeof (damaged) : carried.size;

        Presser presser (*this, moment);
        auto& protocol = *screen->protocol;
        protocol.removeChangeListener (screen.get());
        protocol.addChangeListener (screen.get());

        pressUpdate();
        ASSERT_TRUE (transferEnds());

        // Either a new transfer runs, or the screen shows the end that the transfer reached.
        ASSERT_TRUE (presser.pressed);
        EXPECT_TRUE (update().isEnabled() || protocol.isThreadRunning());
        EXPECT_TRUE (midi().isEnabled() || protocol.isThreadRunning());

        if (moment == Presser::Moment::atDoneWhileTheThreadFinishes)
        {
            EXPECT_TRUE (presser.wasRunning);
            expectDone();
        }

        if (fails)
        {
            EXPECT_TRUE (presser.wasRunning);
            EXPECT_EQ (caption(), "Update progress: Update failed: the firmware image is damaged");
        }

        ASSERT_TRUE (transferEnds());
    }
}

TEST_F (UpdateScreen, LaysOutItsRowsByHand)
{
    auto* title = label (*screen, "This will update");
    ASSERT_NE (title, nullptr);
    EXPECT_EQ (title->getText(),
               "This will update your Cantora 2 firmware to version " CANTORA_FIRMWARE_VERSION_AND_BUILD);
    EXPECT_EQ (title->getBounds(), juce::Rectangle<int> (10, 15, 622, 50));
    EXPECT_EQ (help().getBounds(), juce::Rectangle<int> (538, 25, 94, 30));
    EXPECT_EQ (label (*screen, "STEP1")->getBounds(), juce::Rectangle<int> (10, 70, 622, 30));
    EXPECT_EQ (midi().getBounds(), juce::Rectangle<int> (10, 105, 622, 50));
    EXPECT_EQ (label (*screen, "STEP2")->getBounds(), juce::Rectangle<int> (10, 165, 622, 30));
    EXPECT_EQ (update().getBounds(), juce::Rectangle<int> (538, 215, 94, 30));
    EXPECT_EQ (find<juce::ProgressBar> (*screen)->getBounds(), juce::Rectangle<int> (10, 215, 528, 30));
    EXPECT_EQ (
        find<juce::Label> (*screen, [] (juce::Label& l) { return l.getName() == "guidance"; })->getBounds(),
        juce::Rectangle<int> (10, 255, 622, 30));

    // Only a build that carries the stand-in image says so, in one line at the bottom.
    auto* standIn =
        find<juce::Label> (*screen, [] (juce::Label& l) { return l.getName() == "stand-in notice"; });
#if CANTORA_STANDIN_IMAGE
    ASSERT_NE (standIn, nullptr);
    EXPECT_EQ (standIn->getText(), CANTORA_STANDIN_NOTICE);
    EXPECT_EQ (standIn->getBounds(), juce::Rectangle<int> (10, 295, 622, 30));
#else
    EXPECT_EQ (standIn, nullptr);
#endif

    // Back to front, as built; the help button in front of the title it overlaps.
    juce::StringArray order;
    for (auto* child : screen->getChildren())
        order.add (child == &midi()                ? "midi"
                   : child->getName().isNotEmpty() ? child->getName()
                   : dynamic_cast<juce::Label*> (child) != nullptr
                       ? dynamic_cast<juce::Label*> (child)->getText().substring (0, 5)
                       : "bar");
    juce::StringArray expected (
        { "midi", "This ", "STEP1", "STEP2", "update", "bar", "Updat", "Help", "guidance" });

    if (CANTORA_STANDIN_IMAGE)
        expected.add ("stand-in notice");

    EXPECT_EQ (order, expected);
}

TEST_F (UpdateScreen, HelpButtonTogglesTheOneHelpWindowCentred)
{
    auto* window = topLevelWindow (CANTORA_HELP_TITLE);
    ASSERT_NE (window, nullptr);
    EXPECT_FALSE (window->isVisible());

    help().triggerClick();
    ASSERT_TRUE (pumpUntil ([&] { return window->isVisible(); }));
    EXPECT_EQ (window->getWidth(), 550);
    EXPECT_EQ (window->getHeight(), 400);

    window->setBounds (5, 5, 300, 200);
    help().triggerClick();
    ASSERT_TRUE (pumpUntil ([&] { return ! window->isVisible(); }));
    help().triggerClick();
    ASSERT_TRUE (pumpUntil ([&] { return window->isVisible(); }));
    EXPECT_EQ (topLevelWindow (CANTORA_HELP_TITLE), window) << "the same window each time";

    const auto area =
        juce::Desktop::getInstance().getDisplays().getDisplayForRect (window->getScreenBounds())->userArea;
    EXPECT_EQ (window->getWidth(), 550);
    EXPECT_EQ (window->getHeight(), 400);
    EXPECT_NEAR (window->getScreenBounds().getCentreX(), area.getCentreX(), 1);
    EXPECT_NEAR (window->getScreenBounds().getCentreY(), area.getCentreY(), 1);

    requestClose (*window);
    ASSERT_TRUE (pumpUntil ([&] { return ! window->isVisible(); }));
    help().triggerClick();
    ASSERT_TRUE (pumpUntil ([&] { return window->isVisible(); }));
}

TEST_F (UpdateScreen, DestroyingItMidTransferStopsTheThreadPromptly)
{
    ports.device (0).microsecondsPerMessage = 300;
    pickPort (1);
    pressUpdate();
    ASSERT_TRUE (pumpUntil ([&] { return ports.device (0).getNumMessages() >= 200; }));

    const auto start = juce::Time::getMillisecondCounterHiRes();
    screen = nullptr;
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 10000.0) << "a hang, not a slow machine";
    EXPECT_FALSE (ports.device (0).isOpen) << "the port closed with the screen";
}

TEST_F (UpdateScreen, RendersItsRows)
{
    // The screen inside a component of the main window's background, as it appears in the window.
    screen->removeFromDesktop();
    juce::Component window;
    window.setSize (642, 366);
    window.addAndMakeVisible (*screen);

    struct Background : public juce::Component
    {
        void paint (juce::Graphics& g) override { g.fillAll (juce::Colour (0xFFEFF2F3)); }
    } background;
    background.setSize (642, 366);
    window.addAndMakeVisible (background);
    background.toBack();

    const auto snapshot = window.createComponentSnapshot (window.getLocalBounds());
#ifdef CANTORA_TEST_OUTPUT_DIR
    const juce::File folder (CANTORA_TEST_OUTPUT_DIR);
#else
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory);
#endif
    const auto file = folder.getChildFile ("update-screen-642x366.png");
    file.deleteFile();
    juce::FileOutputStream out (file);
    ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (snapshot, out));

    // The light red update button (drawn half transparent while disabled), the white bar and the window
    // colour between the rows.
    const auto isNear = [] (juce::Colour a, juce::Colour b)
    {
        return std::abs (a.getRed() - b.getRed()) + std::abs (a.getGreen() - b.getGreen()) +
                   std::abs (a.getBlue() - b.getBlue()) <
               40;
    };
    EXPECT_TRUE (isNear (snapshot.getPixelAt (600, 222),
                         juce::Colour (0xFFEFF2F3).overlaidWith (lightRed.withMultipliedAlpha (0.5f))))
        << snapshot.getPixelAt (600, 222).toString();
    EXPECT_TRUE (isNear (snapshot.getPixelAt (300, 240), juce::Colours::white))
        << snapshot.getPixelAt (300, 240).toString();
    EXPECT_TRUE (isNear (snapshot.getPixelAt (5, 300), juce::Colour (0xFFEFF2F3)));

    window.removeChildComponent (screen.get());
}
