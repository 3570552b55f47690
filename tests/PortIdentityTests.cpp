#include "midi/PortIdentity.h"

#include <gtest/gtest.h>

namespace
{
const ListedPort a { "hw:1,0,0", "Cantora 2", "usb 1-1 serial A" };
const ListedPort b { "hw:3,0,0", "Cantora 2", "usb 1-2 serial B" };
const ListedPort other { "hw:0,0,0", "f_midi", "usb 2-1" };

ListedPort at (ListedPort p, const char* address)
{
    p.address = address;
    return p;
}

ListedPort withDevice (ListedPort p, const char* device)
{
    p.device = device;
    return p;
}

FoundPort find (const std::vector<ListedPort>& listed, int picked, const std::vector<ListedPort>& present,
                bool complete = true)
{
    return findPickedPort (describePick (listed, picked), { present, complete });
}

testing::AssertionResult isAt (const FoundPort& found, int index)
{
    if (found.presence == Presence::present && found.index == index)
        return testing::AssertionSuccess();

    return testing::AssertionFailure() << "presence " << static_cast<int> (found.presence) << ", index "
                                       << found.index << "; expected present at " << index;
}

testing::AssertionResult is (const FoundPort& found, Presence presence)
{
    if (found.presence == presence && found.index < 0)
        return testing::AssertionSuccess();

    return testing::AssertionFailure() << "presence " << static_cast<int> (found.presence) << ", index "
                                       << found.index << "; expected " << static_cast<int> (presence);
}
} // namespace

TEST (PickedPort, AnIdentifiedDeviceIsFoundByItsIdentityAloneWhereverItIs)
{
    EXPECT_TRUE (isAt (find ({ a, b }, 0, { other, a, b }), 1)) << "still where it was";
    EXPECT_TRUE (isAt (find ({ a, b }, 0, { b, at (a, "hw:4,0,0") }), 1)) << "back under another number";
    EXPECT_TRUE (is (find ({ a, b }, 0, { other, b }), Presence::absent)) << "gone: never its twin";
    EXPECT_TRUE (is (find ({ a, b }, 0, { at (b, "hw:1,0,0") }), Presence::absent))
        << "its twin took its number";
    EXPECT_TRUE (is (find ({ a, b }, 2, { a, b }), Presence::absent)) << "no such entry";

    // Listed alone, it is still never found by its name: a twin plugged in while it is away, with
    // another serial, with none, or in its own socket, is not the device.
    for (const auto* twin : { "usb 1-2 serial B", "usb 1-2", "usb 1-1", "usb 1-1 serial B" })
        EXPECT_TRUE (is (find ({ other, a }, 1, { other, withDevice (a, twin) }), Presence::absent)) << twin;

    // Nor is a port of its name that cannot be identified at the moment: that decides nothing.
    EXPECT_TRUE (is (find ({ other, a }, 1, { other, withDevice (a, "") }), Presence::unknown));
}

TEST (PickedPort, AnIdentityThatTwoPortsShareIsNone)
{
    // Two listed ports of one name and one identity (a driver fault, or twins in one socket without
    // serials): the name rule refuses them.
    const auto shared = at (a, "hw:2,0,0");
    EXPECT_TRUE (is (find ({ a, shared }, 0, { a, shared }), Presence::unknown));
    EXPECT_TRUE (is (find ({ a, shared }, 1, { shared }), Presence::unknown));

    // Listed alone, but two present claim its identity: neither is taken for it.
    EXPECT_TRUE (is (find ({ a }, 0, { a, shared }), Presence::unknown));

    // Ports of one device with names of their own each keep their identity.
    const auto secondPort = ListedPort { "hw:1,0,1", "Cantora 2 MIDI 2", a.device };
    EXPECT_TRUE (isAt (find ({ a, secondPort }, 1, { secondPort, a }), 0));
}

TEST (PickedPort, WithoutAnIdentityOnlyANameThatStandsAloneFindsIt)
{
    // Where the driver gives no identity (a Windows driver without paths), by name, and only where
    // the name stood alone when it was picked and stands alone now.
    const std::vector<ListedPort> listed { { "0", "Cantora 2", "" }, { "1", "Synth", "" } };
    EXPECT_TRUE (isAt (find (listed, 0, { { "0", "Synth", "" }, { "1", "Cantora 2", "" } }), 1));
    EXPECT_TRUE (is (find (listed, 0, { { "0", "Synth", "" } }), Presence::absent));
    EXPECT_TRUE (
        is (find (listed, 0, { { "0", "Cantora 2", "" }, { "1", "Cantora 2", "" } }), Presence::unknown));

    const std::vector<ListedPort> twins { { "0", "Cantora 2", "" }, { "1", "Cantora 2", "" } };
    EXPECT_TRUE (is (find (twins, 0, { { "0", "Cantora 2", "" } }), Presence::unknown))
        << "its twin's number";
    EXPECT_TRUE (is (find (twins, 1, twins), Presence::unknown));
}

TEST (PickedPort, AListThatWasNotTakenWholeNeverSaysGone)
{
    EXPECT_TRUE (is (find ({ a, b }, 0, { b }, false), Presence::unknown));
    EXPECT_TRUE (isAt (find ({ a, b }, 0, { b, a }, false), 1)) << "what is found is found";

    // By name: the port that did not answer may be the device, and the one found its twin.
    const std::vector<ListedPort> unnamed { { "0", "Cantora 2", "" } };
    EXPECT_TRUE (is (find (unnamed, 0, {}, false), Presence::unknown));
    EXPECT_TRUE (is (find (unnamed, 0, {}, true), Presence::absent));
    EXPECT_TRUE (is (find (unnamed, 0, { { "1", "Cantora 2", "" } }, false), Presence::unknown));
}
