#include "AlsaPortNames.h"

#include <filesystem>
#include <fstream>

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

namespace
{
/** The first line of a sysfs attribute; empty when there is none. */
std::string attribute (const std::filesystem::path& file)
{
    std::ifstream in (file);
    std::string line;
    std::getline (in, line);
    return line;
}

bool endsWith (const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare (text.size() - tail.size(), tail.size(), tail) == 0;
}
} // namespace

std::string soundCardIdentity (const std::string& sysfsRoot, int card, const std::string& longName)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path root = fs::canonical (sysfsRoot, error);
    const auto device = fs::canonical (
        fs::path (sysfsRoot) / "class" / "sound" / ("card" + std::to_string (card)) / "device", error);

    if (! error)
    {
        // A USB sound card's device is one of its interfaces; the USB device above it holds the port.
        const auto usbDevice = fs::exists (device / "busnum") ? device : device.parent_path();
        const auto busNumber = attribute (usbDevice / "busnum");
        const auto portPath = attribute (usbDevice / "devpath");

        if (! busNumber.empty() && ! portPath.empty())
        {
            const auto serial = attribute (usbDevice / "serial");
            return "usb " + busNumber + "-" + portPath + (serial.empty() ? "" : " serial " + serial);
        }

        return device.lexically_relative (root).generic_string();
    }

    const auto at = longName.rfind (" at usb-");

    if (at != std::string::npos && longName.find (", ", at) != std::string::npos &&
        endsWith (longName, " speed"))
        return longName;

    return {};
}
