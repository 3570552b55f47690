#pragma once

namespace testing_support
{
/** Lets the framework's windows live on a bare X server, whose errors for window-manager requests
    would otherwise end the process (the framework installs its own handler only in applications). */
void tolerateBareXServer();
} // namespace testing_support
