#pragma once

#include <functional>

namespace testing_support
{
/** Runs the message loop on the calling (message) thread until the condition holds or timeoutMs pass.
    Returns whether the condition held. The bound is generous; a passing test never waits for it. */
bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 10000);

/** Runs the message loop until everything already posted has been handled, and what that posted in
    turn, a few rounds deep: each round posts a marker message behind the work and waits for it. This
    is how a test shows that nothing more arrives. */
void pumpUntilQuiet (int rounds = 3);
} // namespace testing_support
