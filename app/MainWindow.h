#pragma once

#include "screens/ContentComp.h"

/** The program's one window: the framework's own title bar with a close button, and the update screen
    filling the rest. Closing it stops a running transfer before the application is asked to quit. */
class MainWindow : public juce::DocumentWindow
{
public:
    /** The command line goes on to the update screen, which does not use it. The program passes no
        ports and gets the platform's MIDI output ports. */
    explicit MainWindow (juce::String commandLine, MidiPortList& ports = MidiPortList::getPlatformPorts());
    ~MainWindow() override;

    void closeButtonPressed() override;

    /** The window title for a firmware: name, " - version ", version, and the build when there is one. */
    static juce::String composeTitle (const FirmwareDescriptor& firmware);

    /** The update screen, owned through the window's content slot. */
    ContentComp* contentComp = nullptr;

    /** The window's fixed size, border and title bar included. */
    static constexpr int width = CANTORA_WINDOW_WIDTH, height = CANTORA_WINDOW_HEIGHT;

    /** How long a close waits for the transfer thread to end before it ends the process instead. */
    static constexpr int stopWaitMilliseconds = 400;

private:
    /** Stops a running transfer; when its thread is stuck in a driver call past the wait, ends the
        process, since nothing it uses may then be destroyed. */
    void stopTransferOrEndProcess();

    /** Before the process ends that way: every window leaves the desktop, so that the system
        memory its image holds is freed with it. */
    static void removeWindowsFromDesktop();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
