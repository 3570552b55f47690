#include "WinMidiSender.h"

#include <chrono>

namespace
{
using Clock = std::chrono::steady_clock;

int millisecondsUntil (Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now()).count();
    return left > 0 ? static_cast<int> (left) : 0;
}
} // namespace

int longMessageTimeoutMilliseconds (std::size_t size) noexcept
{
    return static_cast<int> ((size * 10 * 1000 + 31249) / 31250) + 2000;
}

bool sendLongMidiMessage (LongMessageOutput& output, const std::uint8_t* bytes, std::size_t size)
{
    if (output.prepare (bytes, size) != 0)
        return false;

    if (output.send() != 0)
    {
        output.unprepare();
        return false;
    }

    // The event is signalled for other things too (the port opening, another header): each time the
    // header is looked at again.
    const auto deadline = Clock::now() + std::chrono::milliseconds (longMessageTimeoutMilliseconds (size));
    auto waited = LongMessageOutput::Wait::signalled;

    while (! output.isDone() && waited == LongMessageOutput::Wait::signalled)
        waited = output.wait (millisecondsUntil (deadline));

    return output.isDone() && output.unprepare() == 0;
}

bool confirmLongMidiDelivery (LongMessageOutput& output, int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds (milliseconds);

    for (;;)
    {
        const auto waited = output.wait (millisecondsUntil (deadline));

        if (waited == LongMessageOutput::Wait::exitRequested)
            return false;

        if (waited == LongMessageOutput::Wait::timedOut)
            return output.isPresent();
    }
}
