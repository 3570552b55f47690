#include "StandaloneTransfer.h"

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
