#pragma once

#include <juce_graphics/juce_graphics.h>

/** The background colour of the program's windows, also given to the help button. */
inline const juce::Colour windowBackgroundColour { 0xFFEFF2F3 };
