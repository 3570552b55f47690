#pragma once

#include <cstddef>
#include <string>
#include <vector>

/** One MIDI output as the platform lists it. */
struct ListedPort
{
    std::string address; // where it is opened now ("hw:C,D,S", a device number)
    std::string name;    // what the user sees, without the address
    std::string device;  // what names the physical device where the platform tells it (its place on
                         // the USB bus, or its Plug and Play interface path); empty where it does not
};

/** Where the port picked from a list taken earlier is now, among the ports present: its listed
    address, when that still names the same device; otherwise the one port of the same name on the
    same device (a device plugged in again can come back under another number); otherwise, when the
    list held one port of that name alone, the one port of that name now present. A port with no device
    that shared its name with another in the list is never found: nothing tells it from its twin. -1
    when none of these holds: the device is gone, or can no longer be told from another of the same
    name. */
int findPickedPort (const std::vector<ListedPort>& listed, std::size_t picked,
                    const std::vector<ListedPort>& present);
