#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A help window: its close button hides it, so the same window, text and scroll position come back
    the next time it is shown. */
class HelpWindowbaseClass : public juce::DocumentWindow
{
public:
    using juce::DocumentWindow::DocumentWindow;
    ~HelpWindowbaseClass() override = default;

    void closeButtonPressed() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HelpWindowbaseClass)
};
