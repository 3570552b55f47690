#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Gives a window on the desktop the program's icon where the platform takes it from the window (Linux:
    the task bar and the window switcher read it there); on Windows the executable's own icon group
    serves. */
void setProgramIcon (juce::Component& window);
