#pragma once

#include "HelpWindowbaseClass.h"

/** The firmware update help window, built complete and hidden, already on the desktop. Its owner
    sizes, places, shows and hides it. */
class LumoHelpWindowClass : public HelpWindowbaseClass
{
public:
    LumoHelpWindowClass();

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LumoHelpWindowClass)
};
