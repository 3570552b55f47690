#include "WindowIcon.h"

#if JUCE_LINUX
#include "CantoraIcon.h"
#endif

void setProgramIcon ([[maybe_unused]] juce::Component& window)
{
#if JUCE_LINUX
    // The window system's icon of the window (not the framework's title-bar icon, which stays off),
    // decoded from the PNG compiled into the program.
    if (auto* peer = window.getPeer())
        peer->setIcon (
            juce::ImageCache::getFromMemory (CantoraIcon::icon64_png, CantoraIcon::icon64_pngSize));
#endif
}
