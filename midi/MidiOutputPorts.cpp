#include "MidiOutputPorts.h"

#if JUCE_LINUX
#include "AlsaRawMidiPorts.h"
#elif JUCE_WINDOWS
#include "WinMidiPorts.h"
#endif

MidiOutputPorts& MidiOutputPorts::getPlatformPorts()
{
#if JUCE_LINUX
    static AlsaRawMidiPorts ports;
#elif JUCE_WINDOWS
    static WinMidiPorts ports;
#else
#error "No MIDI output ports of the program's own for this platform"
#endif
    return ports;
}
