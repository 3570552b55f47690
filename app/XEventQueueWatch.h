#pragma once

#include <juce_events/juce_events.h>

/** Makes the framework handle X events that wait in Xlib's queue with nothing more to come.

    The framework (7.0.5) reads X events on Linux when the X connection's socket has data. An Xlib
    call that waits for a reply (the input focus, the pointer's position) first reads every event
    that came before the reply into Xlib's queue. The socket is then empty, and those events wait
    until the server next sends something, which may be never: a pointer come to rest on the Help
    button shows no tip, a click with a still mouse is not handled. Every 50 ms, when events wait
    there, this sends the program an X event of its own to a window of its own. The server returns
    it over the socket, and the framework then handles everything queued; it ignores the event
    itself, since the window is none of the framework's. Does nothing on other systems.

    Message thread only: its timer, Xlib's queue and its window are the message thread's, and every
    X call is made under the framework's X lock. Create it once the framework's display is open (it
    does nothing otherwise), and delete it before the framework closes the display. */
class XEventQueueWatch : private juce::Timer
{
public:
    XEventQueueWatch();
    ~XEventQueueWatch() override;

    /** How often the queue is looked at. */
    static constexpr int intervalMilliseconds = 50;

private:
    void timerCallback() override;

    unsigned long window = 0; // the wake-up event's X window; 0 where there is none

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (XEventQueueWatch)
};
