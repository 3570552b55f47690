#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The help window's content: the recovery procedure in a read-only, scrolling text editor that fills
    the component. It has no tooltip window of its own: the update screen's shows every tip, and a
    second one would show each tip twice. */
class LumoHelpWindowContentComp : public juce::Component
{
public:
    LumoHelpWindowContentComp();
    ~LumoHelpWindowContentComp() override;

    void resized() override;

private:
    std::unique_ptr<juce::TextEditor> textEditor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LumoHelpWindowContentComp)
};
