// GoogleTest first: Xlib's None macro would otherwise rename one of its types.
#include <gtest/gtest.h>

// The framework's X11 declarations, reached as its own modules reach them.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/XEventQueueWatch.h"
#include "support/MessageLoop.h"

#if JUCE_LINUX

// An event for a window of the program that an Xlib round trip has read ahead into Xlib's queue,
// with nothing after it on the socket: the framework alone would leave it there for good.
TEST (XEventQueueWatch, AnEventReadAheadIntoXlibsQueueIsStillHandled)
{
    // Never shown: nothing is painted, so the server sends nothing more of its own that would wake
    // the framework's loop.
    juce::Component window;
    window.setSize (100, 100);
    window.addToDesktop (0);
    XEventQueueWatch watch;
    testing_support::pumpUntilQuiet();

    auto* display = juce::XWindowSystem::getInstance()->getDisplay();
    ASSERT_NE (display, nullptr);
    auto* x11 = juce::X11Symbols::getInstance();
    const auto queued = [&]
    {
        juce::XWindowSystemUtilities::ScopedXLock xLock;
        return x11->xEventsQueued (display, QueuedAlready);
    };

    {
        juce::XWindowSystemUtilities::ScopedXLock xLock;
        XEvent event {};
        event.xclient.type = ClientMessage;
        // A type of its own: on a bare X server the window manager's message types may not exist yet,
        // and the framework would take a type of 0 for one of them.
        event.xclient.message_type =
            juce::XWindowSystemUtilities::Atoms::getCreating (display, "CANTORA_TEST_EVENT");
        event.xclient.window = (::Window) window.getWindowHandle();
        event.xclient.format = 32;
        x11->xSendEvent (display, event.xclient.window, False, NoEventMask, &event);
        // The server sends the event before the reply, and the wait for the reply queues it.
        x11->xSync (display, False);
    }

    ASSERT_GT (queued(), 0);
    EXPECT_TRUE (testing_support::pumpUntil ([&] { return queued() == 0; }));
}

#endif
