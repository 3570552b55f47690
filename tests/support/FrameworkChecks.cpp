#include "FrameworkChecks.h"
#include "BareXServer.h"

#include <gtest/gtest.h>

#include <iostream>

namespace testing_support
{
FrameworkChecks::FrameworkChecks()
{
    tolerateBareXServer();
    juce::Logger::setCurrentLogger (this);
}

FrameworkChecks::~FrameworkChecks()
{
    juce::Logger::setCurrentLogger (nullptr);
}

void FrameworkChecks::logMessage (const juce::String& message)
{
    std::cerr << message << std::endl;

    if (! message.startsWith ("JUCE Assertion failure"))
        return;

    // Failures reported from any thread are recorded against the test that is running.
    if (testing::UnitTest::GetInstance()->current_test_info() != nullptr)
        ADD_FAILURE() << message;
    else
        ++outsideTests;
}
} // namespace testing_support
