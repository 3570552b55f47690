#include "PortIdentity.h"

#include <algorithm>

namespace
{
template <typename Matches>
int onlyMatch (const std::vector<ListedPort>& ports, Matches matches)
{
    int found = -1;

    for (std::size_t i = 0; i < ports.size(); ++i)
    {
        if (! matches (ports[i]))
            continue;

        if (found >= 0)
            return -1;

        found = static_cast<int> (i);
    }

    return found;
}
} // namespace

int findPickedPort (const std::vector<ListedPort>& listed, std::size_t picked,
                    const std::vector<ListedPort>& present)
{
    if (picked >= listed.size())
        return -1;

    const auto& wanted = listed[picked];
    const auto sameDevice = [&] (const ListedPort& p)
    { return p.name == wanted.name && p.device == wanted.device; };
    const auto sameName = [&] (const ListedPort& p) { return p.name == wanted.name; };

    // With no identity of its own, a port is told from its twins by its name alone, or not at all:
    // its number may already belong to a twin, since numbers move when a device comes or goes.
    const bool nameTellsApart = onlyMatch (listed, sameName) >= 0;

    if (wanted.device.empty() && ! nameTellsApart)
        return -1;

    for (std::size_t i = 0; i < present.size(); ++i)
        if (present[i].address == wanted.address && sameDevice (present[i]))
            return static_cast<int> (i);

    if (! wanted.device.empty())
        if (const int moved = onlyMatch (present, sameDevice); moved >= 0)
            return moved;

    // By name alone only where the name alone told the device apart when the user picked it.
    if (! nameTellsApart)
        return -1;

    return onlyMatch (present, sameName);
}
