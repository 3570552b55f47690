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

PortResult sendLongMidiMessage (LongMessageOutput& output, const std::uint8_t* bytes, std::size_t size)
{
    if (output.prepare (bytes, size) != 0)
        return PortResult::failed;

    if (output.send() != 0)
    {
        output.unprepare();
        return PortResult::failed;
    }

    // The event is signalled for other things too (the port opening, another header): each time the
    // header is looked at again.
    const auto deadline = Clock::now() + std::chrono::milliseconds (longMessageTimeoutMilliseconds (size));
    auto waited = LongMessageOutput::Wait::signalled;

    while (! output.isDone() && waited == LongMessageOutput::Wait::signalled)
        waited = output.wait (millisecondsUntil (deadline));

    // A header not done in time: a device that stopped taking data, unless it has gone altogether.
    if (! output.isDone())
    {
        if (waited == LongMessageOutput::Wait::exitRequested)
            return PortResult::abandoned;

        return output.isPresent() ? PortResult::stalled : PortResult::failed;
    }

    return output.unprepare() == 0 ? PortResult::ok : PortResult::failed;
}

PortResult confirmLongMidiDelivery (LongMessageOutput& output, int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds (milliseconds);

    for (;;)
    {
        const auto waited = output.wait (millisecondsUntil (deadline));

        if (waited == LongMessageOutput::Wait::exitRequested)
            return PortResult::abandoned;

        if (waited == LongMessageOutput::Wait::timedOut)
            return output.isPresent() ? PortResult::ok : PortResult::failed;
    }
}
