#include "PortIdentity.h"

namespace
{
bool sameIdentity (const ListedPort& a, const ListedPort& b)
{
    return a.name == b.name && ! a.device.empty() && a.device == b.device;
}

struct Matches
{
    std::size_t count = 0;
    int first = -1; // the first port that matched
};

template <typename Predicate>
Matches findMatches (const std::vector<ListedPort>& ports, Predicate matches)
{
    Matches found;

    for (std::size_t i = 0; i < ports.size(); ++i)
        if (matches (ports[i]) && found.count++ == 0)
            found.first = static_cast<int> (i);

    return found;
}
} // namespace

bool operator== (const PickedPort& a, const PickedPort& b)
{
    return a.valid == b.valid && a.identified == b.identified && a.nameAlone == b.nameAlone &&
           a.port.address == b.port.address && a.port.name == b.port.name && a.port.device == b.port.device;
}

PickedPort describePick (const std::vector<ListedPort>& listed, int picked)
{
    PickedPort result;

    if (picked < 0 || static_cast<std::size_t> (picked) >= listed.size())
        return result;

    result.valid = true;
    result.port = listed[static_cast<std::size_t> (picked)];
    result.nameAlone =
        findMatches (listed, [&] (const ListedPort& p) { return p.name == result.port.name; }).count == 1;
    result.identified =
        findMatches (listed, [&] (const ListedPort& p) { return sameIdentity (p, result.port); }).count == 1;
    return result;
}

FoundPort findPickedPort (const PickedPort& picked, const PortScan& present)
{
    if (! picked.valid)
        return { Presence::absent, -1 };

    const auto& wanted = picked.port;

    if (picked.identified)
    {
        const auto withIdentity =
            findMatches (present.ports, [&] (const ListedPort& p) { return sameIdentity (p, wanted); });

        // Found by its identity even on a list that was not taken whole: no two devices are at one
        // place with one serial, or behind one path, but by a fault (which the list picked from shows).
        if (withIdentity.count == 1)
            return { Presence::present, withIdentity.first };

        // Two ports that claim its identity: nothing tells which is the device, and the name rule
        // refuses them too, since they share its name.
        if (withIdentity.count > 1)
            return { Presence::unknown, -1 };

        // A port of its name that could not be identified at this moment may be the device.
        const auto unidentified = findMatches (present.ports, [&] (const ListedPort& p)
                                               { return p.name == wanted.name && p.device.empty(); });

        return { present.complete && unidentified.count == 0 ? Presence::absent : Presence::unknown, -1 };
    }

    // With no identity of its own, a port is told from its twins by its name alone, or not at all:
    // its number may already belong to a twin, since numbers move when a device comes or goes.
    if (! picked.nameAlone)
        return { Presence::unknown, -1 };

    const auto withName =
        findMatches (present.ports, [&] (const ListedPort& p) { return p.name == wanted.name; });

    // On a list that was not taken whole, the port that did not answer may be the device, and the one
    // of its name found a twin.
    if (withName.count == 1 && present.complete)
        return { Presence::present, withName.first };

    return { withName.count == 0 && present.complete ? Presence::absent : Presence::unknown, -1 };
}
