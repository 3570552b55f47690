#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/** The calls of a raw MIDI output stream that sending needs; the ALSA port implements them, tests use
    fakes. */
class RawMidiStream
{
public:
    virtual ~RawMidiStream() = default;

    /** Writes up to size bytes without waiting; returns how many were taken, -EAGAIN when the stream
        has no room, or another negative errno. */
    virtual long write (const std::uint8_t* bytes, std::size_t size) = 0;

    /** Waits until every byte written so far has gone to the device. Returns 0, or a negative errno:
        -ECANCELED when the waiting thread was asked to exit, -ENODEV when the device went away, -EIO
        when it stopped taking data. */
    virtual int drain() = 0;
};

/** Sends one whole message through a raw MIDI stream: writes of at most maxBytesPerWrite (the
    stream's buffer size), each drained before the next, until every byte is out. A write may take
    fewer bytes than offered; the rest follows. Interrupted calls are repeated. Returns false when the
    stream reports an error (the port went away, stopped taking data, or the wait was abandoned). */
bool sendRawMidiMessage (RawMidiStream& stream, const std::uint8_t* bytes, std::size_t size,
                         std::size_t maxBytesPerWrite);

/** The name a raw MIDI output is listed under, without its address: the device's name, or the
    subdevice's own name where the device has several subdevices, e.g. "Cantora 2 MIDI 1". */
std::string rawMidiPortBaseName (const std::string& deviceName, const std::string& subdeviceName,
                                 unsigned int subdeviceCount);

/** The ALSA address of a raw MIDI subdevice, "hw:C,D,S". */
std::string rawMidiAddress (int card, int device, int subdevice);
