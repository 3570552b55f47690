// The test program's entry: the thread that runs the tests is JUCE's message thread.

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>

namespace
{
// A bare X server answers some of the framework's window-manager requests with errors; Xlib's default
// handler would end the process on the first one.
int ignoreXError (Display*, XErrorEvent*)
{
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    // Listing the tests happens at build time, where there may be no display: start nothing for it.
    if (testing::GTEST_FLAG (list_tests))
        return RUN_ALL_TESTS();

    XSetErrorHandler (ignoreXError);

    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
