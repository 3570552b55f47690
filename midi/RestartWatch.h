#pragma once

#include "MidiPortList.h"

#include <functional>

/** Watches a device that has just been updated: it installs the firmware and restarts on its own,
    which shows as its port leaving the list and coming back, found by the same rule that a re-pick
    uses. The framework tells of no change to the port list, so the watch takes the list a few times a
    second until it has its answer or its limit has passed, and never opens a port, so the device is
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
        didNotLeave,    // not seen to leave within the limit
        didNotReturn    // left, and not back within the limit
    };

    /** onChange is called on the message thread after every change of state. */
    RestartWatch (MidiPortList& portsToWatch, std::function<void()> onChange);
    ~RestartWatch() override;

    /** Starts watching this device, a copy of what was picked; one that was not picked stops the
        watch. */
    void watch (const PickedPort& device);
    void stop();

    State getState() const noexcept { return state; }

    /** The device watched: a copy of what was picked. */
    const PickedPort& getDevice() const noexcept { return watched; }

    /** Whether it still takes the list: only until it has its answer or its limit has passed. */
    bool isWatching() const { return isTimerRunning(); }

    /** How long the device may take to leave, and then to come back. */
    int limitMilliseconds = 120000;

    /** How often the list is taken. The fastest restart seen was away for under half a second. */
    static constexpr int pollMilliseconds = 250;

private:
    void timerCallback() override;
    void moveTo (State newState);

    MidiPortList& ports;
    std::function<void()> changed;
    PickedPort watched;
    State state = State::off;
    juce::uint32 phaseStart = 0; // when the device was last seen to leave, or the watch began

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RestartWatch)
};
