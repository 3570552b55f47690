#include "FirmwareDescriptor.h"
#include "FirmwareImage.h"

FirmwareDescriptor::FirmwareDescriptor (const juce::String& firmwareName, const juce::String& firmwareVersion,
                                        int buildNumber)
    : name (firmwareName)
    , version (firmwareVersion)
    , build (buildNumber)
{
}

EmbeddedFirmware::EmbeddedFirmware()
    : FirmwareDescriptor ("Otemba", firmwareImageVersion, firmwareImageBuild)
{
    data = firmwareImage;
    size = firmwareImageSize;
}
