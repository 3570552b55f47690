#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/** The two calls of a raw MIDI output stream that sending needs; the ALSA port implements them, tests
    use fakes. Both block: write until the stream has taken some bytes, drain until the device has
    taken everything written. */
class RawMidiStream
{
public:
    virtual ~RawMidiStream() = default;

    /** Writes up to size bytes; returns how many were taken, or a negative errno. */
    virtual long write (const std::uint8_t* bytes, std::size_t size) = 0;

    /** Waits until every byte written so far has gone to the device; 0, or a negative errno. */
    virtual int drain() = 0;
};

/** Sends one whole message through a raw MIDI stream: writes of at most maxBytesPerWrite (the
    stream's buffer size), each followed by a drain before the next, until every byte is out. A write
    may take fewer bytes than offered; the rest follows. Interrupted calls are repeated. Returns false
    when the stream reports an error (the port went away). */
bool sendRawMidiMessage (RawMidiStream& stream, const std::uint8_t* bytes, std::size_t size,
                         std::size_t maxBytesPerWrite);

/** The name a raw MIDI output is listed under: the device's name, followed by the subdevice's own
    name where the device has several subdevices, then the ALSA address in brackets, e.g.
    "Cantora 2 MIDI 1 (hw:1,0,0)". */
std::string rawMidiPortName (const std::string& deviceName, const std::string& subdeviceName,
                             unsigned int subdeviceCount, int card, int device, int subdevice);
