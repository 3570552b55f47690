#pragma once

#include "midi/PortResult.h"

#include <cstddef>
#include <cstdint>

/** The calls of a Windows multimedia MIDI output that sending a long message needs, around the port's
    one message header; the Windows port implements them, tests use fakes. Results are the
    multimedia functions' own: 0 for success, an error code otherwise. */
class LongMessageOutput
{
public:
    enum class Wait
    {
        signalled,    // the driver signalled the port's event (a header done, or something else)
        timedOut,     // the whole time asked for passed
        exitRequested // the waiting thread was asked to exit
    };

    virtual ~LongMessageOutput() = default;

    /** Points the header at a copy of these bytes and prepares it (midiOutPrepareHeader). */
    virtual unsigned int prepare (const std::uint8_t* bytes, std::size_t size) = 0;

    /** Hands the prepared header to the driver (midiOutLongMsg). */
    virtual unsigned int send() = 0;

    /** Whether the driver has marked the header done. */
    virtual bool isDone() = 0;

    /** Waits at most this long for the driver's event, ending at once on an exit request. */
    virtual Wait wait (int milliseconds) = 0;

    /** Releases the header (midiOutUnprepareHeader); fails while the driver still holds it. */
    virtual unsigned int unprepare() = 0;

    /** Whether the device is still among the system's MIDI outputs. */
    virtual bool isPresent() = 0;
};

/** How long the driver may take to mark a message's header done: the message at 31,250 baud (ten
    bits a byte, the slowest MIDI link), plus a margin of two seconds. */
int longMessageTimeoutMilliseconds (std::size_t size) noexcept;

/** Sends one message as a long message: prepare, send, wait until the header is done, unprepare.
    A header not done within the time-out is a device that stopped taking data (stalled), an exit
    request of the waiting thread abandons the send, and any error code fails it. A header the driver
    still holds then stays with it: the port takes it back with a reset when it closes, never on the
    sending thread, which a stopped driver could keep waiting. */
PortResult sendLongMidiMessage (LongMessageOutput& output, const std::uint8_t* bytes, std::size_t size);

/** After the last message: the device must still be there once this long has passed; failed when it
    is not, abandoned when the waiting thread was asked to exit. */
PortResult confirmLongMidiDelivery (LongMessageOutput& output, int milliseconds);
