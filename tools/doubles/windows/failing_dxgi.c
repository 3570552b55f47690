/* A dxgi.dll whose factory cannot be made, as under a Wine prefix made without a display: the
 * program must say that it cannot start, and not crash. Put beside the program with
 * WINEDLLOVERRIDES=dxgi=n. */

#include <windows.h>

__declspec(dllexport) HRESULT WINAPI CreateDXGIFactory (REFIID riid, void** factory)
{
    (void) riid;
    *factory = NULL;
    return (HRESULT) 0x887A0004L; /* DXGI_ERROR_UNSUPPORTED */
}
