#include "app/Application.h"
#include "support/InMemoryMidiPorts.h"
#include "support/MessageLoop.h"
#include "support/ScreenProbe.h"

#include <gtest/gtest.h>

using namespace screen_probe;
using testing_support::pumpFor;
using testing_support::pumpUntil;

namespace
{
// The application object, with the quit request recorded instead of ending the test's message loop.
struct RecordingApplication : public Application
{
    void systemRequestedQuit() override { ++quitRequests; }
    int quitRequests = 0;
};
} // namespace

TEST (MainWindowTitle, ShowsTheBuildOnlyWhenThereIsOne)
{
    EXPECT_EQ (MainWindow::composeTitle (FirmwareDescriptor ("Cantora 2", "1.0.02", 37)),
               "Cantora 2 - version 1.0.02 B37");
    EXPECT_EQ (MainWindow::composeTitle (FirmwareDescriptor ("Cantora 2", "1.0.02", 0)),
               "Cantora 2 - version 1.0.02");
}

TEST (ApplicationObject, NamesItselfAndAllowsOneInstance)
{
    Application app;
    EXPECT_EQ (app.getApplicationName(), "Flashmere by Korvane");
    EXPECT_EQ (app.getApplicationVersion(), "1.0");
    EXPECT_FALSE (app.moreThanOneInstanceAllowed());
}

TEST (ApplicationObject, OpensAFixedWindowAndDeletesItAtShutdown)
{
    RecordingApplication app;
    app.initialise ("--some --arguments");
    pumpFor (50);

    auto* window = dynamic_cast<MainWindow*> (topLevelWindow ("Cantora 2 - version 1.0.02 B37"));
    ASSERT_NE (window, nullptr);
    EXPECT_TRUE (window->isVisible());
    EXPECT_EQ (window->getWidth(), 650);
    EXPECT_EQ (window->getHeight(), 400);
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
    EXPECT_EQ (limits->getMinimumWidth(), 650);
    EXPECT_EQ (limits->getMaximumWidth(), 650);
    EXPECT_EQ (limits->getMinimumHeight(), 400);
    EXPECT_EQ (limits->getMaximumHeight(), 400);
    window->setBoundsConstrained ({ window->getX(), window->getY(), 900, 700 });
    EXPECT_EQ (window->getWidth(), 650);
    EXPECT_EQ (window->getHeight(), 400);

    app.shutdown();
    EXPECT_EQ (topLevelWindow ("Cantora 2 - version 1.0.02 B37"), nullptr);
    app.shutdown(); // nothing left to delete
    EXPECT_EQ (app.quitRequests, 0);
}

TEST (MainWindowClose, StopsATransferAndAsksToQuitPromptly)
{
    RecordingApplication app;
    InMemoryMidiPorts ports ({ "Cantora 2" });
    ports.device (0).microsecondsPerMessage = 300;

    struct CountingWindow : public MainWindow
    {
        using MainWindow::MainWindow;
        void closeButtonPressed() override
        {
            ++closeRequests;
            MainWindow::closeButtonPressed();
        }
        int closeRequests = 0;
    } window ("", ports);
    window.centreWithSize (650, 400);
    auto& screen = *window.contentComp;

    find<juce::ComboBox> (screen)->setSelectedId (1);
    ASSERT_TRUE (pumpUntil ([&] { return button (screen, "update")->isEnabled(); }));
    button (screen, "update")->triggerClick();
    ASSERT_TRUE (pumpUntil ([&] { return ports.device (0).getNumMessages() >= 200; }));

    const auto sentAtClose = ports.device (0).getNumMessages();
    const auto start = juce::Time::getMillisecondCounterHiRes();
    requestClose (window);
    ASSERT_TRUE (pumpUntil ([&] { return app.quitRequests > 0; }));
    EXPECT_EQ (window.closeRequests, 1);

    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 1000.0);
    EXPECT_FALSE (screen.protocol->isThreadRunning()) << "stopped, not left to be killed";
    EXPECT_LE (ports.device (0).getNumMessages(), sentAtClose + 1);
    EXPECT_EQ (app.quitRequests, 1);
}

TEST (MainWindowClose, WithNoTransferRunningAsksToQuitAtOnce)
{
    RecordingApplication app;
    InMemoryMidiPorts ports;
    MainWindow window ("", ports);

    const auto start = juce::Time::getMillisecondCounterHiRes();
    window.closeButtonPressed();
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 100.0);
    EXPECT_EQ (app.quitRequests, 1);
}
