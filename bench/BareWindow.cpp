// A bare window program on the same framework build and flags as the updater: one window of the
// updater's size with a close button and nothing in it. The start-up benchmark measures it beside it.

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
class BareWindow : public juce::DocumentWindow
{
public:
    BareWindow()
        : juce::DocumentWindow ("Bare JUCE window", juce::Colours::white, juce::DocumentWindow::closeButton,
                                true)
    {
        centreWithSize (CANTORA_WINDOW_WIDTH, CANTORA_WINDOW_HEIGHT);
        setVisible (true);
    }

    void closeButtonPressed() override { juce::JUCEApplication::getInstance()->systemRequestedQuit(); }
};

class BareApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Bare JUCE window"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    void initialise (const juce::String&) override { window = std::make_unique<BareWindow>(); }
    void shutdown() override { window = nullptr; }

private:
    std::unique_ptr<BareWindow> window;
};
} // namespace

START_JUCE_APPLICATION (BareApplication)
