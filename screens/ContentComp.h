#pragma once

#include "LumoHelpWindowClass.h"
#include "firmware/FirmwareDescriptor.h"
#include "midi/MidiInterfaceClass.h"
#include "midi/RestartWatch.h"
#include "transfer/BasicSysexProtocolClass.h"

class MainWindow;

/** The update screen: builds and wires the whole update machinery (port chooser, firmware, transfer,
    help window) and shows the device, the two steps, the progress bar and the update button. */
class ContentComp : public juce::Component,
                    public juce::Button::Listener,
                    public juce::ChangeListener,
                    private juce::KeyListener
{
public:
    /** The command line is accepted and not used. The program passes no ports and gets the platform's
        MIDI output ports; tests pass ports of their own. */
    ContentComp (MainWindow* owner, juce::String commandLine,
                 MidiPortList& ports = MidiPortList::getPlatformPorts());

    /** For tests: sends imageToSend, which must outlive the screen, instead of the compiled-in firmware
        (which the screen still carries and names); null sends the compiled-in firmware. */
    ContentComp (MainWindow* owner, juce::String commandLine, MidiPortList& ports,
                 const FirmwareDescriptor* imageToSend);
    ~ContentComp() override;

    void resized() override;
    void paintOverChildren (juce::Graphics& g) override;
    void focusOfChildComponentChanged (FocusChangeType cause) override;
    void buttonClicked (juce::Button* button) override;
    void changeListenerCallback (juce::ChangeBroadcaster* source) override;

    /** After "Update completed": whether the device has restarted since. */
    RestartWatch& getRestartWatch() noexcept { return *restartWatch; }

    /** Tells assistive technology of a change of the status or the guidance; tests put their own. */
    std::function<void (const juce::String&)> announce = [] (const juce::String& text)
    {
        juce::AccessibilityHandler::postAnnouncement (text,
                                                      juce::AccessibilityHandler::AnnouncementPriority::high);
    };

    /** The guidance line's font: two lines of it fit its row. */
    static constexpr float guidanceFontHeight = 14.0f;

    /** Shown at the bottom of a build that carries the stand-in image instead of the device's firmware. */
    static constexpr const char* standInNotice = CANTORA_STANDIN_NOTICE;

    /** The transfer object; read by the main window to stop its thread on close. */
    std::unique_ptr<BasicSysexProtocolClass> protocol;

    using juce::Component::keyPressed;

private:
    bool keyPressed (const juce::KeyPress& key, juce::Component* originatingComponent) override;

    void applyUpdateButtonLook();
    void restartWatchChanged();
    void showGuidance();
    /** With the outcome read together with the status shown. */
    void showGuidance (ProtocolBaseClass::Outcome outcome);
    bool transferUnderWay() const;

    /** The control that has the keyboard focus, of the three a user moves between; null for none. */
    juce::Component* focusedControl() const;

    std::unique_ptr<LumoHelpWindowClass> helpWindow;
    MainWindow* mainWindow = nullptr; // the window that owns this screen; nothing here reads it

    std::unique_ptr<MidiInterfaceClass> midiInterface;
    std::unique_ptr<RestartWatch> restartWatch; // the device updated last, on the chooser's ports
    std::unique_ptr<juce::TextButton> updateButton;
    std::unique_ptr<juce::ProgressBar> progressBar;
    std::unique_ptr<juce::Label> progressLabel;
    std::unique_ptr<juce::Label> guidanceLabel; // under the bar: what happens now, what to do next
    std::unique_ptr<juce::Label> standInLabel;  // below that, in a build with the stand-in image only
    double progressValue = 0.0;                 // what the bar shows; the bar holds a reference to it
    std::unique_ptr<juce::TextButton> helpButton;
    std::unique_ptr<juce::Label> titleLabel;
    std::unique_ptr<juce::Label> step1Label;
    std::unique_ptr<juce::Label> step2Label;

public:
    /** The compiled-in firmware; read by the main window for its title. */
    std::unique_ptr<EmbeddedFirmware> descriptor;

private:
    // The program's one tooltip window: with no parent it shows the tips of every window's components,
    // the help window's included.
    juce::TooltipWindow tooltipWindow;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ContentComp)
};
