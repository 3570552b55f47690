#include "MainWindow.h"
#include "ProcessEnd.h"
#include "screens/WindowBackground.h"
#include "screens/WindowIcon.h"

MainWindow::MainWindow (juce::String commandLine, MidiPortList& ports)
    : juce::DocumentWindow (juce::String(), windowBackgroundColour, juce::DocumentWindow::closeButton, true)
{
    contentComp = new ContentComp (this, commandLine, ports);
    setResizable (true, false);
    setContentOwned (contentComp, false);

    // Composed once, from the firmware the screen carries.
    setName (composeTitle (*contentComp->descriptor));
    setProgramIcon (*this);

    // Sized and centred before it first shows: a window manager that is slow to take the window on
    // can keep the size and place it had when shown (the framework's 128 x 128, top left), and drop
    // the application's centring that follows.
    centreWithSize (width, height);
    setVisible (true);
}

MainWindow::~MainWindow()
{
    // A shut-down that no close came before (the system ending the session) also meets a running
    // transfer here, before the screen goes.
    stopTransferOrEndProcess();
}

juce::String MainWindow::composeTitle (const FirmwareDescriptor& firmware)
{
    return firmware.getName() + " - version " + firmware.getVersion() + firmware.getBuildSuffix();
}

void MainWindow::stopTransferOrEndProcess()
{
    if (contentComp != nullptr && contentComp->protocol != nullptr &&
        ! contentComp->protocol->stop (stopWaitMilliseconds))
    {
        removeWindowsFromDesktop();
        endProcessNow();
    }
}

void MainWindow::removeWindowsFromDesktop()
{
#if JUCE_LINUX
    // On X11 the framework keeps each window's image in System V shared memory, which outlives a
    // process that ends without freeing it, until the machine restarts; once the system's segments
    // run out, other programs lose theirs. Taking the windows off the desktop frees their images.
    // Message thread only; the stuck transfer thread uses no window.
    auto& desktop = juce::Desktop::getInstance();

    for (int i = desktop.getNumComponents(); --i >= 0;)
        if (auto* window = desktop.getComponent (i))
            window->removeFromDesktop();
#endif
}

void MainWindow::closeButtonPressed()
{
    stopTransferOrEndProcess();

    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}
