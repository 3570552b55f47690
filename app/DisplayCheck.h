#pragma once

/** Whether the framework can list this machine's display adapters, which it does when it opens the
    first window. On Windows the framework (7.0.5) uses the DirectX Graphics Infrastructure factory
    without checking that it was made, and crashes where it cannot be: the program then says so in a
    system message box instead, and does not start. Always true elsewhere. */
bool displayAdaptersCanBeListed();
