#pragma once

namespace testing_support
{
/** Set, by a static initialiser, in a test program whose tests need the framework's application main
    (one application object per process): the test main hands over to it once GoogleTest and the
    framework checks are set up, and returns what it returns. Otherwise the tests run on the message
    thread of a plain framework set-up. */
extern int (*runUnderApplicationMain) (int argc, char** argv);
} // namespace testing_support
