#pragma once

#include "BasicSysexProtocolClass.h"
#include "midi/MidiInterfaceClass.h"

/** The update machinery without the screen, for the programs that send without it (the headless
    sender, the benchmark, the tests): a port chooser on the ports given, the compiled-in firmware, and
    a transfer of that firmware, or of an image given, to the chooser. Built in the order the update
    screen builds them, and taken down in its order too: the transfer, its thread stopped, before the
    chooser and the firmware it uses. */
class StandaloneTransfer
{
public:
    explicit StandaloneTransfer (MidiPortList& ports);

    /** Sends this image instead of the compiled-in one; it must outlive the object. */
    StandaloneTransfer (MidiPortList& ports, const FirmwareDescriptor& image);

    ~StandaloneTransfer();

    MidiInterfaceClass chooser;
    EmbeddedFirmware firmware;
    std::unique_ptr<BasicSysexProtocolClass> protocol; // may be reset early, to destroy it mid-transfer

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (StandaloneTransfer)
};
