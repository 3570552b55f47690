#pragma once

#include <juce_core/juce_core.h>

// The firmware image compiled into the program, as one contiguous read-only block, with the version
// and build number it was embedded with. The build generates the definitions from a checked image.
extern const juce::uint8 firmwareImage[];
extern const juce::uint32 firmwareImageSize;
extern const char* const firmwareImageVersion;
extern const int firmwareImageBuild;
