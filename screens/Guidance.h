#pragma once

#include "midi/MidiPortList.h"
#include "midi/RestartWatch.h"
#include "transfer/ProtocolBaseClass.h"

/** The line under the progress bar that tells the user what happens now and what to do next, from
    where the transfer stands, what the updated device has done since, and why the port picked last
    did not open. A port problem comes first,
    since it is the newest thing the user did; a transfer under way comes before both. After a failure
    the device may hold part or all of the image (what the USB layer had queued can still reach it):
    no text says that it lacks the rest. Empty when there is nothing to say. */
juce::String guidanceText (ProtocolBaseClass::Outcome outcome, RestartWatch::State restart,
                           MidiPortList::OpenProblem openProblem, const juce::String& openErrorText);

/** Shown when the port picked is held by another program. */
inline constexpr const char* portInUseGuidance =
    "This port is in use by another program: quit other MIDI applications and pick it again.";
