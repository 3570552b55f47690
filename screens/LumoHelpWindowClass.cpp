#include "LumoHelpWindowClass.h"
#include "WindowBackground.h"
#include "LumoHelpWindowContentComp.h"
#include "WindowIcon.h"

LumoHelpWindowClass::LumoHelpWindowClass()
    : HelpWindowbaseClass ("Help", windowBackgroundColour, juce::DocumentWindow::allButtons, true)
{
    auto* content = new LumoHelpWindowContentComp();
    setResizable (true, false);
    setContentOwned (content, false);
    setName (CANTORA_HELP_TITLE);
    setProgramIcon (*this);
}
