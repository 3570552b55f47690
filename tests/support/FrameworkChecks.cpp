#include "FrameworkChecks.h"

#include <gtest/gtest.h>

#include <iostream>

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>

namespace testing_support
{
namespace
{
int ignoreXError (Display*, XErrorEvent*)
{
    return 0;
}
} // namespace

FrameworkChecks::FrameworkChecks()
{
    XSetErrorHandler (ignoreXError);
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
