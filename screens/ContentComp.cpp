#include "ContentComp.h"
#include "Guidance.h"
#include "WindowBackground.h"

namespace
{
/** The progress bar, which tells assistive technology its value as a whole percentage, as it shows it. */
class PercentProgressBar : public juce::ProgressBar
{
public:
    explicit PercentProgressBar (double& progressToShow)
        : juce::ProgressBar (progressToShow)
        , progress (progressToShow)
    {
    }

private:
    struct PercentValue : public juce::AccessibilityTextValueInterface
    {
        explicit PercentValue (const double& p)
            : progress (p)
        {
        }

        bool isReadOnly() const override { return true; }
        juce::String getCurrentValueAsString() const override
        {
            return juce::String (juce::roundToInt (juce::jlimit (0.0, 1.0, progress) * 100.0)) + "%";
        }
        void setValueAsString (const juce::String&) override {}

        const double& progress;
    };

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override
    {
        return std::make_unique<juce::AccessibilityHandler> (
            *this, juce::AccessibilityRole::progressBar, juce::AccessibilityActions {},
            juce::AccessibilityHandler::Interfaces { std::make_unique<PercentValue> (progress) });
    }

    const double& progress; // the screen's progressValue, read on the message thread only
};

/** An accessible title and description, which a screen reader speaks for the control alone. */
void describe (juce::Component& component, const juce::String& title, const juce::String& description)
{
    component.setTitle (title);
    component.setDescription (description);
}
} // namespace

ContentComp::ContentComp (MainWindow* owner, juce::String commandLine, MidiPortList& ports)
    : ContentComp (owner, commandLine, ports, nullptr)
{
}

ContentComp::ContentComp (MainWindow* owner, juce::String /*commandLine: accepted, not used*/,
                          MidiPortList& ports, const FirmwareDescriptor* imageToSend)
    : mainWindow (owner)
{
    // The framework's default look draws labels and editors in light text for dark windows, which
    // would be unreadable on the program's light windows: give it the framework's own light colours.
    if (auto* v4 = dynamic_cast<juce::LookAndFeel_V4*> (&juce::LookAndFeel::getDefaultLookAndFeel()))
        v4->setColourScheme (juce::LookAndFeel_V4::getLightColourScheme());

    helpWindow = std::make_unique<LumoHelpWindowClass>();
    midiInterface = std::make_unique<MidiInterfaceClass> (ports);
    restartWatch = std::make_unique<RestartWatch> (ports, [this] { restartWatchChanged(); });

    descriptor = std::make_unique<EmbeddedFirmware>();
    descriptor->name = "Cantora 2";

    protocol = std::make_unique<BasicSysexProtocolClass> (
        midiInterface.get(), imageToSend != nullptr ? imageToSend : descriptor.get());

    addAndMakeVisible (midiInterface.get());
    protocol->addChangeListener (this);
    midiInterface->addChangeListener (this);

    titleLabel = std::make_unique<juce::Label> (
        juce::String(), "This will update your " + descriptor->getName() + " firmware to version " +
                            descriptor->getVersion() + descriptor->getBuildSuffix());
    addAndMakeVisible (titleLabel.get());

    step1Label = std::make_unique<juce::Label> (juce::String(), "STEP1");
    addAndMakeVisible (step1Label.get());
    step2Label = std::make_unique<juce::Label> (juce::String(), "STEP2");
    addAndMakeVisible (step2Label.get());

    updateButton = std::make_unique<juce::TextButton> ("update", "click here to update the product");
    addAndMakeVisible (updateButton.get());
    updateButton->addListener (this);
    updateButton->setConnectedEdges (juce::Button::ConnectedOnLeft);
    applyUpdateButtonLook();

    progressValue = 0.0;
    progressBar = std::make_unique<PercentProgressBar> (progressValue);
    addAndMakeVisible (progressBar.get());
    progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colours::white);

    progressLabel = std::make_unique<juce::Label> (juce::String(), "Update progress:");
    progressLabel->attachToComponent (progressBar.get(), false);

    helpButton = std::make_unique<juce::TextButton> ("Help", "click here to get help");
    addAndMakeVisible (helpButton.get());
    helpButton->setColour (juce::TextButton::buttonColourId, windowBackgroundColour);
    helpButton->addListener (this);

    // Two lines of what happens now and what to do next; empty at start.
    guidanceLabel = std::make_unique<juce::Label> ("guidance");
    guidanceLabel->setFont (juce::Font (guidanceFontHeight));
    guidanceLabel->setMinimumHorizontalScale (1.0f);
    guidanceLabel->setJustificationType (juce::Justification::topLeft);
    addAndMakeVisible (guidanceLabel.get());

    // Tab moves from Help to the chooser to update; space presses a button as Return does.
    helpButton->setExplicitFocusOrder (1);
    midiInterface->setExplicitFocusOrder (2);
    updateButton->setExplicitFocusOrder (3);

    for (auto* button : { helpButton.get(), updateButton.get() })
        button->addKeyListener (this);

    describe (*helpButton, "Help", "Opens the help: how to prepare the device, and the recovery procedure.");
    describe (
        *updateButton, "Update",
        "Sends the firmware to the device picked as MIDI output port. Available once that port is open.");
    describe (*progressBar, "Update progress", "How much of the firmware has been sent.");
    describe (*guidanceLabel, "Guidance", "What happens now, and what to do next.");

#if CANTORA_STANDIN_IMAGE
    // Its bytes are placeholders: nobody may take this build for a real firmware update.
    standInLabel = std::make_unique<juce::Label> ("stand-in notice", standInNotice);
    addAndMakeVisible (standInLabel.get());
#endif
}

ContentComp::~ContentComp()
{
    // The transfer thread uses the port chooser and the firmware until it ends: stop it first.
    protocol = nullptr;

    midiInterface->removeChangeListener (this);
    updateButton->removeListener (this);
    helpButton->removeListener (this);

    for (auto* button : { helpButton.get(), updateButton.get() })
        button->removeKeyListener (this);

    restartWatch = nullptr;

    // The children, then what the screen owns besides; the thread that used them has ended.
    const auto deleteAll = [] (auto&... owned) { (owned.reset(), ...); };
    deleteAll (progressLabel, guidanceLabel, standInLabel, progressBar, updateButton, helpButton, titleLabel,
               step1Label, step2Label, midiInterface);

    descriptor = nullptr;
    helpWindow = nullptr;
}

void ContentComp::resized()
{
    const int w = getWidth();

    titleLabel->setBounds (10, 15, w - 20, 50);
    helpButton->setBounds (w - 104, 25, 94, 30);
    step1Label->setBounds (10, titleLabel->getBottom() + 5, w - 20, 30);
    midiInterface->setBounds (10, step1Label->getBottom() + 5, w - 20, midiInterface->getPreferredHeight());
    step2Label->setBounds (10, midiInterface->getBottom() + 10, w - 20, 30);
    updateButton->setBounds (w - 104, step2Label->getBottom() + 20, 94, 30);
    progressBar->setBounds (10, step2Label->getBottom() + 20, w - 114, 30);
    guidanceLabel->setBounds (10, progressBar->getBottom() + 10, w - 20, 30);

    if (standInLabel != nullptr)
        standInLabel->setBounds (10, guidanceLabel->getBottom() + 10, w - 20, 30);

    helpWindow->centreWithSize (550, 400);
}

void ContentComp::buttonClicked (juce::Button* button)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (button == updateButton.get())
    {
        midiInterface->reopenPortAfterUpdate();

        if (midiInterface->isConnected())
        {
            restartWatch->stop();
            progressValue = 0.0;
            protocol->startTransfer();
            updateButton->setEnabled (false);
        }
        else
        {
            juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, juce::String(),
                                                    "Please select an output device:");
        }
    }
    else if (button == helpButton.get())
    {
        helpWindow->setVisible (! helpWindow->isVisible());
        helpWindow->centreWithSize (550, 400);
    }
}

void ContentComp::changeListenerCallback (juce::ChangeBroadcaster* source)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (source == midiInterface.get())
    {
        midiInterface->setEnabled (! (transferUnderWay() && midiInterface->isEnabled()));
        applyUpdateButtonLook();

        // A port opened ends the watch of the device updated last. A pick that did not open, and the
        // chooser's own return to "(Disconnected)" (after a failure, or when the watch let go of the
        // port), leave it running: the device may still come back, and only the watch lists it again.
        if (midiInterface->getOpenPortIndex() >= 0)
            restartWatch->stop();

        showGuidance();
    }
    else if (source == protocol.get())
    {
        // Thread crossing: progress, outcome and status are written by the transfer thread; both reads
        // here are safe without a lock of the screen's (an atomic, and the outcome with its status
        // copied together under the status lock).
        progressValue = protocol->progress.load();
        const auto published = protocol->getPublished();
        const auto& status = published.status;

        if (progressValue == 1.0)
        {
            updateButton->setEnabled (true);
            midiInterface->setEnabled (true);
        }
        else if (ProtocolBaseClass::isFailure (published.outcome))
        {
            // A transfer that ended early: the user can try again on the port if it still works, or
            // pick one first (a port that failed has gone back to "(Disconnected)").
            midiInterface->setEnabled (true);
            applyUpdateButtonLook();
        }

        const auto caption = "Update progress: " + status;

        if (caption != progressLabel->getText())
        {
            progressLabel->setText (caption, juce::dontSendNotification);
            announce (status);

            // The device installs what it received and restarts: watch for it leaving and coming back.
            if (published.outcome == ProtocolBaseClass::Outcome::completed)
                restartWatch->watch (midiInterface->getOpenDevice());
        }

        showGuidance (published.outcome);
    }

    repaint();
}

void ContentComp::restartWatchChanged()
{
    midiInterface->followRestart (*restartWatch);

    showGuidance();
}

void ContentComp::showGuidance()
{
    showGuidance (protocol->getOutcome());
}

void ContentComp::showGuidance (ProtocolBaseClass::Outcome outcome)
{
    const auto text = guidanceText (outcome, restartWatch->getState(), midiInterface->getOpenProblem(),
                                    midiInterface->getOpenErrorText());

    if (text == guidanceLabel->getText())
        return;

    guidanceLabel->setText (text, juce::dontSendNotification);

    if (text.isNotEmpty())
        announce (text);
}

juce::Component* ContentComp::focusedControl() const
{
    for (auto* control : { static_cast<juce::Component*> (helpButton.get()),
                           static_cast<juce::Component*> (updateButton.get()) })
        if (control->hasKeyboardFocus (false))
            return control;

    for (auto* child : midiInterface->getChildren())
        if (child->hasKeyboardFocus (true))
            return child;

    return nullptr;
}

void ContentComp::paintOverChildren (juce::Graphics& g)
{
    // A ring around the control that has the keyboard focus, in the colour the framework's light
    // scheme gives a focused field.
    if (auto* control = focusedControl())
    {
        g.setColour (findColour (juce::TextEditor::focusedOutlineColourId));
        g.drawRoundedRectangle (getLocalArea (control, control->getLocalBounds()).toFloat().expanded (2.0f),
                                4.0f, 2.0f);
    }
}

void ContentComp::focusOfChildComponentChanged (FocusChangeType)
{
    repaint();
}

bool ContentComp::keyPressed (const juce::KeyPress& key, juce::Component* originatingComponent)
{
    if (key != juce::KeyPress (juce::KeyPress::spaceKey))
        return false;

    for (auto* button : { helpButton.get(), updateButton.get() })
    {
        if (originatingComponent == button && button->isEnabled())
        {
            button->triggerClick();
            return true;
        }
    }

    return false;
}

bool ContentComp::transferUnderWay() const
{
    return progressValue != 0.0 && progressValue != 1.0 &&
           ! ProtocolBaseClass::isFailure (protocol->getOutcome());
}

void ContentComp::applyUpdateButtonLook()
{
    const bool connected = midiInterface->isConnected();
    updateButton->setColour (juce::TextButton::buttonColourId,
                             (connected ? juce::Colours::green : juce::Colours::red).brighter (0.99f));
    updateButton->setEnabled (connected);
}
