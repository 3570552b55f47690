#include "DisplayCheck.h"

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
#include <windows.h>
#include <dxgi.h>

bool displayAdaptersCanBeListed()
{
    IDXGIFactory* factory = nullptr;

    if (SUCCEEDED (CreateDXGIFactory (__uuidof(IDXGIFactory), reinterpret_cast<void**> (&factory))) &&
        factory != nullptr)
    {
        factory->Release();
        return true;
    }

    // No window of the framework's may open now: a plain system message.
    MessageBoxW (nullptr,
                 L"" CANTORA_PRODUCT_NAME
                 " cannot start: Windows cannot list this computer's display adapters "
                 "(DirectX Graphics Infrastructure). Start it on the computer's own desktop.",
                 L"" CANTORA_PRODUCT_NAME, MB_OK | MB_ICONERROR);
    return false;
}
#else
bool displayAdaptersCanBeListed()
{
    return true;
}
#endif
