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
            if (! present)
            {
                phaseStart = juce::Time::getMillisecondCounter();
                moveTo (State::away);
            }
            else if (limitPassed)
            {
                moveTo (State::didNotLeave);
            }
            break;
        case State::away:
        case State::didNotReturn:
            if (present)
            {
                stopTimer();
                moveTo (State::restarted);
            }
            else if (limitPassed)
            {
                moveTo (State::didNotReturn);
            }
            break;
        case State::off:
        case State::restarted:
            stopTimer();
            break;
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
