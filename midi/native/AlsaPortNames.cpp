#include "AlsaPortNames.h"

std::string rawMidiPortBaseName (const std::string& deviceName, const std::string& subdeviceName,
                                 unsigned int subdeviceCount)
{
    if (subdeviceCount > 1 && ! subdeviceName.empty() && subdeviceName != deviceName)
        return subdeviceName;

    return deviceName.empty() ? std::string ("MIDI") : deviceName;
}

std::string rawMidiAddress (int card, int device, int subdevice)
{
    return "hw:" + std::to_string (card) + "," + std::to_string (device) + "," + std::to_string (subdevice);
}
