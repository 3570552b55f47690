// The framework's X11 declarations, reached as its own modules reach them.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include "XEventQueueWatch.h"

#if JUCE_LINUX

namespace
{
// The framework's display, or none once the framework has closed it: never opens another.
::Display* openDisplay()
{
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();
    return windowSystem != nullptr ? windowSystem->getDisplay() : nullptr;
}
} // namespace

XEventQueueWatch::XEventQueueWatch()
{
    auto* display = openDisplay();

    if (display == nullptr)
        return;

    auto* x11 = juce::X11Symbols::getInstance();
    juce::XWindowSystemUtilities::ScopedXLock xLock;

    // Never mapped, takes no input, of its parent's visual (none given): only the wake-up event ever
    // comes to it.
    XSetWindowAttributes attributes {};
    window = x11->xCreateWindow (display, x11->xRootWindow (display, x11->xDefaultScreen (display)), 0, 0, 1,
                                 1, 0, 0, InputOnly, nullptr, 0, &attributes);
    startTimer (intervalMilliseconds);
}

XEventQueueWatch::~XEventQueueWatch()
{
    stopTimer();
    auto* display = openDisplay();

    if (display != nullptr && window != 0)
    {
        juce::XWindowSystemUtilities::ScopedXLock xLock;
        juce::X11Symbols::getInstance()->xDestroyWindow (display, window);
    }
}

void XEventQueueWatch::timerCallback()
{
    auto* display = openDisplay();

    if (display == nullptr)
        return;

    auto* x11 = juce::X11Symbols::getInstance();
    juce::XWindowSystemUtilities::ScopedXLock xLock;

    // Counts what is already in the queue, without reading the socket.
    if (x11->xEventsQueued (display, QueuedAlready) == 0)
        return;

    XEvent wake {};
    wake.xclient.type = ClientMessage;
    wake.xclient.window = window;
    wake.xclient.format = 32;
    // With no event mask, the event goes to the window's creator: this program.
    x11->xSendEvent (display, window, False, NoEventMask, &wake);
    x11->xFlush (display);
}

#else

XEventQueueWatch::XEventQueueWatch() = default;
XEventQueueWatch::~XEventQueueWatch() = default;
void XEventQueueWatch::timerCallback() {}

#endif
