#pragma once

#include <juce_events/juce_events.h>

/** Counts the change callbacks it receives, on the message thread. */
struct ChangeCounter : public juce::ChangeListener
{
    void changeListenerCallback (juce::ChangeBroadcaster*) override { ++count; }
    int count = 0;
};
