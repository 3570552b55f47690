#pragma once

/** What a call on a MIDI output port came to. */
enum class PortResult
{
    ok,       // the port took everything; after the last message, the device was still there
    stalled,  // the device stopped taking data: nothing moved for the port's stall limit
    failed,   // the port went away or reported an error
    abandoned // the waiting thread was asked to exit, which says nothing about the port
};
