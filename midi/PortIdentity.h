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

/** The ports present at one moment. complete is false when some port did not answer while the list
    was taken: a device missing from such a list may still be there. */
struct PortScan
{
    std::vector<ListedPort> ports;
    bool complete = true;
};

/** What the user picked: the port as it was listed, and what told it apart in that list. A copy, so
    that it stays the same whatever lists are taken later. */
struct PickedPort
{
    ListedPort port;
    bool identified = false; // listed with an identity that no other listed port of its name had
    bool nameAlone = false;  // no other port in the list had its name
    bool valid = false;      // false for a position that was not in the list
};

/** Whether two picks are of the same port of the same list. */
bool operator== (const PickedPort& a, const PickedPort& b);

/** Describes the port at this position of a list, for finding it again in later lists; a position
    outside the list gives a pick that is not valid. */
PickedPort describePick (const std::vector<ListedPort>& listed, int picked);

/** Whether a device picked earlier is among the ports present. */
enum class Presence
{
    present, // exactly one port is the device
    absent,  // a whole list holds no port that could be the device
    unknown  // nothing can be decided: a port did not answer, a port of its name could not be
             // identified, or two ports now claim to be the device
};

struct FoundPort
{
    Presence presence = Presence::unknown;
    int index = -1; // the device's position in the list, where it is present
};

/** Finds the device picked among the ports present, by one rule wherever a device is looked for:
    - a port listed with an identity (a place on the USB bus with its serial, an interface path) is
      found only by that identity, never by its name alone;
    - an identity that two ports share, in the list picked from or among those present, is no
      identity: those ports fall to the name rule;
    - a port without an identity is found by its name, and only where its name stood alone both in
      the list picked from and among the ports present, on a list taken whole.
    A list that was not taken whole never says absent. */
FoundPort findPickedPort (const PickedPort& picked, const PortScan& present);
