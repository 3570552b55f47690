#include "StandaloneTransfer.h"

// Only the firmware's address is taken here; the member is built before the transfer that uses it.
StandaloneTransfer::StandaloneTransfer (MidiPortList& ports)
    : StandaloneTransfer (ports, firmware)
{
}

StandaloneTransfer::StandaloneTransfer (MidiPortList& ports, const FirmwareDescriptor& image)
    : chooser (ports)
    , protocol (std::make_unique<BasicSysexProtocolClass> (&chooser, &image))
{
}

StandaloneTransfer::~StandaloneTransfer()
{
    protocol = nullptr;
}
