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

void RestartWatch::watch (int listIndex)
{
    JUCE_ASSERT_MESSAGE_THREAD
    index = listIndex;
    phaseStart = juce::Time::getMillisecondCounter();
    moveTo (State::waitingToLeave);
    startTimer (250);
}

void RestartWatch::stop()
{
    JUCE_ASSERT_MESSAGE_THREAD
    stopTimer();
    moveTo (State::off);
}

void RestartWatch::timerCallback()
{
    const bool present = ports.isPresent (index);
    const bool limitPassed =
        juce::Time::getMillisecondCounter() - phaseStart >= static_cast<juce::uint32> (limitMilliseconds);

    switch (state)
    {
        case State::waitingToLeave:
        case State::didNotLeave:
            advance (! present, State::away, State::didNotLeave, limitPassed);
            break;
        case State::away:
        case State::didNotReturn:
            advance (present, State::restarted, State::didNotReturn, limitPassed);
            break;
        case State::off:
        case State::restarted:
            stopTimer();
            break;
    }
}

void RestartWatch::advance (bool awaitedChange, State next, State late, bool limitPassed)
{
    if (awaitedChange)
    {
        // The next phase has a limit of its own; a device that has restarted needs no more watching.
        phaseStart = juce::Time::getMillisecondCounter();

        if (next == State::restarted)
            stopTimer();

        moveTo (next);
    }
    else if (limitPassed)
    {
        moveTo (late);
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
