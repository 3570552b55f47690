#pragma once

#include <functional>

namespace testing_support
{
/** Runs the message loop on the calling (message) thread until the condition holds or timeoutMs pass.
    Returns whether the condition held. The bound is generous; a passing test never waits for it. */
bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 10000);

/** Runs the message loop for this long, handling whatever arrives. */
void pumpFor (int milliseconds);
} // namespace testing_support
