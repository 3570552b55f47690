#pragma once

#include "MainWindow.h"
#include "XEventQueueWatch.h"

/** The application object: creates, sizes and shows the main window at start, and deletes it at
    shut-down. Only one copy of the program runs at a time. */
class Application : public juce::JUCEApplication
{
public:
    /** The program passes no ports and gets the platform's MIDI output ports; tests pass their own. */
    explicit Application (MidiPortList& portsToUse = MidiPortList::getPlatformPorts())
        : ports (portsToUse)
    {
    }

    ~Application() override = default;

    const juce::String getApplicationName() override { return "Flashmere by Korvane"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return false; }

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

private:
    MidiPortList& ports;
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<XEventQueueWatch> eventQueueWatch;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Application)
};
