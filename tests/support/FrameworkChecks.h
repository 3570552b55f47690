#pragma once

#include <juce_core/juce_core.h>

namespace testing_support
{
/** While it exists, every framework assertion (logged when the build sets JUCE_LOG_ASSERTIONS) fails
    the test that is running, whichever thread it fires on; one that fires outside a test is counted.
    It also lets the framework's windows live on a bare X server, whose errors for window-manager
    requests would otherwise end the process. */
class FrameworkChecks : private juce::Logger
{
public:
    FrameworkChecks();
    ~FrameworkChecks() override;

    /** Assertions that fired while no test was running. */
    int getAssertionsOutsideTests() const { return outsideTests; }

private:
    void logMessage (const juce::String& message) override;

    std::atomic<int> outsideTests { 0 };
};
} // namespace testing_support
