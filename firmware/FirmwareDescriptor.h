#pragma once

#include <juce_core/juce_core.h>

/** Describes one firmware image: where its bytes lie, how many there are, and which firmware it is. */
struct FirmwareDescriptor
{
    /** Describes a firmware with no image attached: data stays null and size 0. */
    FirmwareDescriptor (const juce::String& firmwareName, const juce::String& firmwareVersion,
                        int buildNumber);

    juce::String getName() const { return name; }
    juce::String getVersion() const { return version; }

    /** " B" and the build number, for the titles that show it; empty when there is no build number. */
    juce::String getBuildSuffix() const { return build != 0 ? " B" + juce::String (build) : juce::String(); }

    const juce::uint8* data = nullptr; // first byte of the image; null when none is attached
    juce::uint32 size = 0;             // bytes of the image, every F0 and F7 included
    juce::String name;                 // display name of the firmware's product
    juce::String version;              // version text, shown unchanged
    int build = 0;                     // build number; 0 means there is none
};

/** The descriptor of the image compiled into the program. */
struct EmbeddedFirmware : public FirmwareDescriptor
{
    EmbeddedFirmware();
};
