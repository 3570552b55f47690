// The application object and its window, in a process of their own: the framework's application main
// runs the program's Application (on in-memory ports), whose start runs these tests on the message
// thread. One application object per process, as in the program.

#include "app/Application.h"
#include "support/FrameworkChecks.h"
#include "support/InMemoryMidiPorts.h"
#include "support/MessageLoop.h"
#include "support/TestMain.h"
#include "support/ScreenProbe.h"

#include <gtest/gtest.h>

#if JUCE_LINUX
#include <fstream>
#include <sstream>
#include <unistd.h>
#endif

using namespace testing_support;
using testing_support::pumpUntil;

namespace
{
InMemoryMidiPorts& testPorts()
{
    static InMemoryMidiPorts ports ({ "Cantora 2" });
    return ports;
}

/** The program's application object, with the ports of the tests; a quit request is recorded instead
    of ending the loop that the tests run in. */
struct TestApplication : public Application
{
    TestApplication()
        : Application (testPorts())
    {
    }

    // Test processes run side by side and beside the program: no single-instance lock here.
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String&) override
    {
        setApplicationReturnValue (RUN_ALL_TESTS());
        quit();
    }

    void systemRequestedQuit() override { ++quitRequests; }

    int quitRequests = 0;
};

TestApplication& app()
{
    return *dynamic_cast<TestApplication*> (juce::JUCEApplication::getInstance());
}

double millisecondsSince (double start)
{
    return juce::Time::getMillisecondCounterHiRes() - start;
}

// Closes and shut-downs are given this long before a test calls them hung: a loaded machine may be
// slow, but never this slow. How soon they end is a figure that make e2e and the real program's
// tests report, not something asserted here.
constexpr int hangBoundMs = 10000;

/** The program's window as the application opens it, with a transfer started on the in-memory port. */
struct OpenWindow : public ::testing::Test
{
    OpenWindow()
    {
        app().quitRequests = 0;
        app().Application::initialise ("--some --arguments");
        window = dynamic_cast<MainWindow*> (topLevelWindow (CANTORA_WINDOW_TITLE));
    }

    ~OpenWindow() override
    {
        device().release();
        app().shutdown();
    }

    InMemoryMidiPorts::Device& device() { return testPorts().device (0); }

    void startTransfer()
    {
        auto& screen = *window->contentComp;
        find<juce::ComboBox> (screen)->setSelectedId (1);
        ASSERT_TRUE (pumpUntil ([&] { return button (screen, "update")->isEnabled(); }));
        button (screen, "update")->triggerClick();
    }

    // Closes as the user does, and waits until the application is asked to quit.
    void closeAndExpectAQuit()
    {
        device().takenAfterExitRequest = 0;
        juce::MessageManager::callAsync ([this] { window->closeButtonPressed(); });
        ASSERT_TRUE (pumpUntil ([] { return app().quitRequests > 0; }, hangBoundMs));
        EXPECT_FALSE (window->contentComp->protocol->isThreadRunning()) << "stopped, not left to be killed";
        EXPECT_EQ (app().quitRequests, 1);
    }

    MainWindow* window = nullptr;
};
} // namespace

TEST (ApplicationObject, NamesItselfAndAllowsOneInstance)
{
    EXPECT_EQ (app().getApplicationName(), "Flashmere by Korvane");
    EXPECT_EQ (app().getApplicationVersion(), "1.0");
    EXPECT_FALSE (app().Application::moreThanOneInstanceAllowed());
}

TEST (MainWindowTitle, ShowsTheBuildOnlyWhenThereIsOne)
{
    EXPECT_EQ (MainWindow::composeTitle (FirmwareDescriptor ("Cantora 2", "2.1.07", 37)),
               "Cantora 2 - version 2.1.07 B37");
    EXPECT_EQ (MainWindow::composeTitle (FirmwareDescriptor ("Cantora 2", "2.1.07", 0)),
               "Cantora 2 - version 2.1.07");
    EXPECT_EQ (FirmwareDescriptor ("Cantora 2", "1.0.02", 7).getBuildSuffix(), " B7");
}

TEST (MainWindowWhenItFirstShows, IsAlreadyAtItsSizeInTheMiddleOfTheScreen)
{
    // A window manager slow to take the window on can keep the size and place it first showed with.
    MainWindow window ({}, testPorts());
    ASSERT_TRUE (window.isShowing());
    EXPECT_EQ (window.getBounds().withZeroOrigin(),
               juce::Rectangle<int> (CANTORA_WINDOW_WIDTH, CANTORA_WINDOW_HEIGHT));
    const auto middle = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea.getCentre();
    EXPECT_LE (window.getBounds().getCentre().getDistanceFrom (middle), 1);
}

TEST_F (OpenWindow, IsFixedAtItsSizeWithTheScreenInsideAndGoesAtShutdown)
{
    ASSERT_NE (window, nullptr);
    EXPECT_TRUE (window->isVisible());
    EXPECT_EQ (window->getWidth(), CANTORA_WINDOW_WIDTH);
    EXPECT_EQ (window->getHeight(), CANTORA_WINDOW_HEIGHT);
    EXPECT_FALSE (window->isUsingNativeTitleBar());
    EXPECT_EQ (window->getTitleBarHeight(), 26);
    EXPECT_NE (window->getCloseButton(), nullptr);
    EXPECT_EQ (window->getMinimiseButton(), nullptr);
    EXPECT_EQ (window->getMaximiseButton(), nullptr);
    EXPECT_EQ (window->getBackgroundColour(), juce::Colour (0xFFEFF2F3));

    // The update screen fills the area inside the border and below the title bar.
    ASSERT_NE (window->contentComp, nullptr);
    EXPECT_EQ (window->getContentComponent(), window->contentComp);
    EXPECT_EQ (window->contentComp->getWidth(), 642);
    EXPECT_EQ (window->contentComp->getHeight(), 366);

    // The border cannot make it larger or smaller: a drag applies its size through the limits.
    auto* limits = window->getConstrainer();
    EXPECT_EQ (limits->getMinimumWidth(), CANTORA_WINDOW_WIDTH);
    EXPECT_EQ (limits->getMaximumWidth(), CANTORA_WINDOW_WIDTH);
    EXPECT_EQ (limits->getMinimumHeight(), CANTORA_WINDOW_HEIGHT);
    EXPECT_EQ (limits->getMaximumHeight(), CANTORA_WINDOW_HEIGHT);
    window->setBoundsConstrained ({ window->getX(), window->getY(), 900, 700 });
    EXPECT_EQ (window->getWidth(), CANTORA_WINDOW_WIDTH);
    EXPECT_EQ (window->getHeight(), CANTORA_WINDOW_HEIGHT);

    app().shutdown();
    EXPECT_EQ (topLevelWindow (CANTORA_WINDOW_TITLE), nullptr);
    app().shutdown(); // nothing left to delete
    EXPECT_EQ (app().quitRequests, 0);
}

TEST_F (OpenWindow, ClickPointsOfTheScriptsLandOnWhatTheyName)
{
    // The build's facts give the scripts these points, from the window's top left corner; a layout
    // change that moves a control away from its point fails here, not first in a script much later.
    const auto landsOn = [this] (const char* point, juce::Component* target)
    {
        const auto xy = juce::StringArray::fromTokens (point, false);
        auto* hit = window->getComponentAt (xy[0].getIntValue(), xy[1].getIntValue());
        return target != nullptr && hit != nullptr && (hit == target || target->isParentOf (hit));
    };
    auto& screen = *window->contentComp;
    EXPECT_TRUE (landsOn (CANTORA_HELP_BUTTON, button (screen, "Help")));
    EXPECT_TRUE (landsOn (CANTORA_CLOSE_BUTTON, window->getCloseButton()));
    EXPECT_TRUE (landsOn (CANTORA_PORT_BOX, find<juce::ComboBox> (screen)));
    EXPECT_TRUE (landsOn (CANTORA_UPDATE_BUTTON, button (screen, "update")));
}

TEST_F (OpenWindow, CloseWithNoTransferAsksToQuitAtOnce)
{
    const auto start = juce::Time::getMillisecondCounterHiRes();
    window->closeButtonPressed();
    EXPECT_LT (millisecondsSince (start), hangBoundMs);
    EXPECT_EQ (app().quitRequests, 1);
}

TEST_F (OpenWindow, CloseDuringATransferStopsItAndAsksToQuitPromptly)
{
    device().microsecondsPerMessage = 300;
    startTransfer();
    ASSERT_TRUE (pumpUntil ([&] { return device().getNumMessages() >= 200; }));

    closeAndExpectAQuit();
    EXPECT_LE (device().takenAfterExitRequest, 1) << "only the message in flight at the close";
    device().microsecondsPerMessage = 0;
}

TEST_F (OpenWindow, CloseWhileTheDeviceTakesNothingEndsWithoutWaitingForIt)
{
    // The device stops taking data in the middle of the image, and never takes another byte.
    device().holdBeforeMessage (1000);
    startTransfer();
    ASSERT_TRUE (pumpUntil ([&] { return device().isHolding(); }));

    closeAndExpectAQuit();
    EXPECT_EQ (device().getNumMessages(), 1000u);

    // Shut-down then deletes the window with everything in it, the held port too, without waiting.
    const auto start = juce::Time::getMillisecondCounterHiRes();
    app().shutdown();
    EXPECT_LT (millisecondsSince (start), hangBoundMs);
    EXPECT_FALSE (device().isOpen);
}

//==============================================================================
// A close while a driver call never returns, in a process of its own: that process must end.

namespace
{
constexpr const char* hungDriverOption = "--close-during-a-driver-hang";

#if JUCE_LINUX
/** How many System V shared memory segments the process made that are not marked for removal (a
    marked one stays listed until the X server lets go of it). X windows keep their images there. */
int segmentsKeptBy (int processId)
{
    // Read as a stream: the file's size shows as 0.
    std::ifstream segments ("/proc/sysvipc/shm");
    std::string segment;
    std::getline (segments, segment); // the heading
    int kept = 0;

    while (std::getline (segments, segment))
    {
        // key shmid perms size cpid ...: perms in octal, with 01000 once marked for removal.
        long long key = 0, shmid = 0, size = 0, creator = 0;
        unsigned int perms = 0;
        std::istringstream fields (segment);
        fields >> key >> shmid >> std::oct >> perms >> std::dec >> size >> creator;

        if (creator == processId && (perms & 01000) == 0)
            ++kept;
    }

    return kept;
}
#endif

/** The program on a port whose send hangs at message 100: it starts an update as a user does, says
    "CLOSING" (on Linux with its process id and its windows' images in shared memory, once there are
    some) and closes the window. The process must then end by itself. */
struct HungDriverApplication : public Application
{
    HungDriverApplication()
        : Application (testPorts())
    {
    }

    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String&) override
    {
        Application::initialise ({});
        testPorts().device (0).hangsAtMessage = 100;
        auto* window = dynamic_cast<MainWindow*> (topLevelWindow (CANTORA_WINDOW_TITLE));
        auto& screen = *window->contentComp;
        find<juce::ComboBox> (screen)->setSelectedId (1);
        pumpUntil ([&] { return button (screen, "update")->isEnabled(); });
        button (screen, "update")->triggerClick();
        pumpUntil ([] { return testPorts().device (0).hanging.load(); });

#if JUCE_LINUX
        pumpUntil ([] { return segmentsKeptBy (getpid()) > 0; });
        std::printf ("CLOSING %d %d\n", (int) getpid(), segmentsKeptBy (getpid()));
#else
        std::printf ("CLOSING\n");
#endif
        std::fflush (stdout);
        window->closeButtonPressed();
    }
};
} // namespace

TEST (ClosingTheProgram, WhileADriverCallNeverReturnsEndsTheProcess)
{
    juce::ChildProcess child;
    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName();
    ASSERT_TRUE (child.start (juce::StringArray { self, hungDriverOption }, juce::ChildProcess::wantStdOut));

    // One byte at a time: a read of more waits for all of it.
    juce::String output;
    char c = 0;

    const auto closingLineRead = [&]
    { return output.fromFirstOccurrenceOf ("CLOSING", false, false).containsChar ('\n'); };

    while (! closingLineRead() && child.readProcessOutput (&c, 1) == 1)
        output += c;

    ASSERT_TRUE (output.contains ("CLOSING")) << output;

    // The window waits a fixed while for the thread before it ends the process, so the end comes
    // well within the bound; only a process that stays fails here.
    const bool ended = child.waitForProcessToFinish (hangBoundMs);

    if (! ended)
        child.kill();

    ASSERT_TRUE (ended) << "still running " << hangBoundMs << " ms after the close";
    EXPECT_EQ (child.getExitCode(), 0u);

#if JUCE_LINUX
    // Its windows' images, in System V shared memory, went with it: the system would keep them.
    const auto closingLine =
        juce::StringArray::fromTokens (output.fromFirstOccurrenceOf ("CLOSING ", false, false), false);
    const auto pid = closingLine[0].getIntValue();
    ASSERT_GT (pid, 0) << output;
    ASSERT_GT (closingLine[1].getIntValue(), 0) << "its window had no image in shared memory: " << output;
    EXPECT_EQ (segmentsKeptBy (pid), 0);
#endif
}

namespace
{
/** The tests, or the hung driver's child process, under the framework's application main. */
int runApplication (int argc, char** argv)
{
    const bool hungDriverChild = argc == 2 && juce::String (argv[1]) == hungDriverOption;

    if (hungDriverChild)
        juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
        { return new HungDriverApplication(); };
    else
        juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
        { return new TestApplication(); };

#if JUCE_WINDOWS
    return juce::JUCEApplicationBase::main();
#else
    return juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));
#endif
}

[[maybe_unused]] const bool runsUnderApplicationMain =
    (testing_support::runUnderApplicationMain = &runApplication, true);
} // namespace
