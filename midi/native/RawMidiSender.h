#pragma once

#include "midi/PortResult.h"

#include <cstddef>
#include <cstdint>

/** The calls of a raw MIDI output stream that sending needs; the ALSA port implements them, tests use
    fakes. */
class RawMidiStream
{
public:
    virtual ~RawMidiStream() = default;

    /** Writes up to size bytes without waiting; returns how many were taken, -EAGAIN when the stream
        has no room, or another negative errno. */
    virtual long write (const std::uint8_t* bytes, std::size_t size) = 0;

    /** Waits until every byte written so far has gone to the driver. Returns 0, or a negative errno:
        -ECANCELED when the waiting thread was asked to exit, -ENODEV when the device went away, -EIO
        when it stopped taking data. */
    virtual int drain() = 0;

    /** With nothing left in the stream: one call of the driver's own drain, which returns as soon as
        the transfers it has already handed to the device are done, and otherwise after a time-out of
        its own. Returns the milliseconds it took, or a negative errno as drain() does. */
    virtual long drainDriver() = 0;
};

/** What a call that returned 0 or a negative errno, as the stream's calls do, came to: -EIO is a device
    that stopped taking data, -ECANCELED a wait given up on an exit request, any other error a port
    that failed. */
PortResult portResultOf (long error);

/** Sends one whole message through a raw MIDI stream: writes of at most maxBytesPerWrite (the
    stream's buffer size), each drained before the next, until every byte is out. A write may take
    fewer bytes than offered; the rest follows. Interrupted calls are repeated. Ends at the first
    error: stalled when the device stopped taking data, abandoned when the waiting thread was asked to
    exit, failed for anything else (the port went away). */
PortResult sendRawMidiMessage (RawMidiStream& stream, const std::uint8_t* bytes, std::size_t size,
                               std::size_t maxBytesPerWrite);

/** How long the USB MIDI driver's own drain waits at most for transfers still in flight (50 ms in the
    kernel's sound/usb/midi.c). A drain that returns clearly sooner found nothing left in flight. */
constexpr long usbMidiDriverDrainMilliseconds = 50;

/** After the last message, for a driver whose drain returns early once nothing is in flight (the USB
    MIDI driver): drains again until one call returns well before the driver's time-out, so that the
    device has taken every transfer. A driver that keeps returning only at its time-out for
    limitMilliseconds has a device that stopped taking data. */
PortResult waitUntilNothingInFlight (RawMidiStream& stream, long limitMilliseconds);
