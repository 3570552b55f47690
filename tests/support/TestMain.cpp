// The test programs' one entry: the thread that runs the tests is JUCE's message thread.

#include "FrameworkChecks.h"
#include "TestMain.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

int (*testing_support::runUnderApplicationMain) (int, char**) = nullptr;

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    // Listing the tests happens at build time, where there may be no display: start nothing for it.
    if (testing::GTEST_FLAG (list_tests))
        return RUN_ALL_TESTS();

    testing_support::FrameworkChecks checks;
    int result;

    if (testing_support::runUnderApplicationMain != nullptr)
    {
        result = testing_support::runUnderApplicationMain (argc, argv);
    }
    else
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    return result != 0 || checks.getAssertionsOutsideTests() > 0 ? 1 : 0;
}
