#include "ProcessEnd.h"

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
#include <windows.h>
#else
#include <cstdlib>
#endif

void endProcessNow()
{
#if JUCE_WINDOWS
    // ExitProcess would first let every loaded library detach, the stuck driver's included, which can
    // wait on that driver for good.
    TerminateProcess (GetCurrentProcess(), 0);
#endif
    std::_Exit (0);
}
