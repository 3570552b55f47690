#include "RestartWatch.h"

RestartWatch::RestartWatch (MidiPortList& portsToWatch, std::function<void()> onChange)
    : ports (portsToWatch)
    , changed (std::move (onChange))
{
}

RestartWatch::~RestartWatch()
{
    stopTimer();
}

void RestartWatch::watch (const PickedPort& device)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! device.valid)
    {
        stop();
        return;
    }

    watched = device;
    phaseStart = juce::Time::getMillisecondCounter();
    moveTo (State::waitingToLeave);
    startTimer (pollMilliseconds);
}

void RestartWatch::stop()
{
    JUCE_ASSERT_MESSAGE_THREAD
    stopTimer();
    moveTo (State::off);
}

void RestartWatch::timerCallback()
{
    // Only a list that was taken whole and holds nothing that could be the device says "left", and
    // only the device itself says "back": a list on which the device could not be told decides
    // nothing, however often that happens, until the limit.
    const auto presence = ports.findDevice (watched).presence;
    const bool limitPassed =
        juce::Time::getMillisecondCounter() - phaseStart >= static_cast<juce::uint32> (limitMilliseconds);

    if (state == State::waitingToLeave && presence == Presence::absent)
    {
        phaseStart = juce::Time::getMillisecondCounter(); // coming back has a limit of its own
        moveTo (State::away);
    }
    else if (state == State::away && presence == Presence::present)
    {
        stopTimer();
        moveTo (State::restarted);
    }
    else if (state != State::waitingToLeave && state != State::away)
    {
        stopTimer();
    }
    else if (limitPassed)
    {
        stopTimer();
        moveTo (state == State::waitingToLeave ? State::didNotLeave : State::didNotReturn);
    }
}

void RestartWatch::moveTo (State newState)
{
    if (newState == state)
        return;

    state = newState;

    if (changed != nullptr)
        changed();
}
