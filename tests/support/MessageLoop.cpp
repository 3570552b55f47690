#include "MessageLoop.h"

#include <juce_events/juce_events.h>

namespace testing_support
{
bool pumpUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounterHiRes() >= deadline)
            return condition();

        juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
    }

    return true;
}

void pumpFor (int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
}
} // namespace testing_support
