#pragma once

#include "MidiPortList.h"

#include <functional>

/** Watches a device that has just been updated: it installs the firmware and restarts on its own,
    which shows as its port leaving the list and coming back (found by the same identity that a
    re-open uses). Looks at the list a few times a second and never opens the port, so the device is
    free to leave. On the message thread only. */
class RestartWatch : private juce::Timer
{
public:
    enum class State
    {
        off,            // not watching
        waitingToLeave, // the device is still there
        away,           // it has left and not come back yet
        restarted,      // it left and came back
        didNotLeave,    // still there after the limit
        didNotReturn    // left, and not back within the limit
    };

    /** onChange is called on the message thread after every change of state. */
    RestartWatch (MidiPortList& portsToWatch, std::function<void()> onChange);
    ~RestartWatch() override;

    /** Starts watching the device listed at this position of the ports' last list. */
    void watch (int listIndex);
    void stop();

    State getState() const noexcept { return state; }

    /** How long the device may take to leave, and then to come back. */
    int limitMilliseconds = 120000;

private:
    void timerCallback() override;
    /** Moves to next once the port has left or returned as awaited, or to late once the phase's limit
        has passed without it. */
    void advance (bool awaitedChange, State next, State late, bool limitPassed);
    void moveTo (State newState);

    MidiPortList& ports;
    std::function<void()> changed;
    int index = -1;
    State state = State::off;
    juce::uint32 phaseStart = 0; // when the device was last seen to leave, or the watch began

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RestartWatch)
};
