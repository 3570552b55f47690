#include "MessageLoop.h"

#include <juce_events/juce_events.h>

#include <memory>

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

void pumpUntilQuiet (int rounds)
{
    for (int i = 0; i < rounds; ++i)
    {
        const auto handled = std::make_shared<bool> (false);
        juce::MessageManager::callAsync ([handled] { *handled = true; });

        // A marker that never arrives means the loop is stuck: the test fails through the assertion.
        [[maybe_unused]] const bool arrived = pumpUntil ([handled] { return *handled; });
        jassert (arrived);
    }
}
} // namespace testing_support
