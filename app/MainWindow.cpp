#include "MainWindow.h"
#include "screens/WindowBackground.h"
#include "screens/WindowIcon.h"

MainWindow::MainWindow (juce::String commandLine, MidiOutputPorts& ports)
    : juce::DocumentWindow (juce::String(), windowBackgroundColour, juce::DocumentWindow::closeButton, true)
{
    contentComp = new ContentComp (this, commandLine, ports);
    setResizable (true, false);
    setContentOwned (contentComp, false);

    // Composed once, from the firmware the screen carries.
    setName (composeTitle (*contentComp->descriptor));
    setProgramIcon (*this);

    setVisible (true);
}

MainWindow::~MainWindow() = default;

juce::String MainWindow::composeTitle (const FirmwareDescriptor& firmware)
{
    return firmware.getName() + " - version " + firmware.getVersion() + firmware.getBuildSuffix();
}

void MainWindow::closeButtonPressed()
{
    if (contentComp != nullptr && contentComp->protocol != nullptr)
    {
        // Every wait of the transfer thread gives up on this request, so the wait ends promptly.
        contentComp->protocol->signalThreadShouldExit();
        contentComp->protocol->waitForThreadToExit (5000);
    }

    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}
