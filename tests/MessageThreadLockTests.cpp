#include "support/MessageLoop.h"
#include "transfer/MessageThreadLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using testing_support::pumpUntil;

namespace
{
// A worker that takes the message-thread lock a given number of times. While it holds the lock it
// breaks an invariant for a moment, which the message thread must therefore never see broken.
struct Worker : public juce::Thread
{
    explicit Worker (int timesToLock)
        : juce::Thread ("Lock worker")
        , times (timesToLock)
    {
    }

    ~Worker() override { stopThread (2000); }

    void run() override
    {
        for (int i = 0; i < times && ! threadShouldExit(); ++i)
        {
            ++started;
            const MessageThreadLock::ScopedAcquire acquire (lock);

            if (! acquire.lockWasGained())
            {
                ++refused;
                break;
            }

            // Broken for 100 microseconds of the worker's own time, however busy the machine is.
            invariantBroken = true;
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds (100);

            while (std::chrono::steady_clock::now() < until)
            {
            }

            invariantBroken = false;
            ++gained;
        }
    }

    int times;
    MessageThreadLock lock { *this };
    std::atomic<bool> invariantBroken { false };
    std::atomic<int> started { 0 }, gained { 0 }, refused { 0 };
};
} // namespace

TEST (MessageThreadLock, IsTakenAgainAndAgainFromAWorkerAndExcludesTheMessageThread)
{
    Worker worker (500);
    int seenBroken = 0;
    worker.startThread();
    ASSERT_TRUE (pumpUntil (
        [&]
        {
            // On the message thread, between the messages it handles.
            seenBroken += worker.invariantBroken ? 1 : 0;
            return ! worker.isThreadRunning();
        },
        60000));

    EXPECT_EQ (worker.gained, 500);
    EXPECT_EQ (worker.refused, 0);
    EXPECT_EQ (seenBroken, 0) << "the message thread ran while the worker held the lock";
}

TEST (MessageThreadLock, GivesUpAtOnceWhenTheWorkerIsAskedToExit)
{
    Worker worker (1000000);
    worker.startThread();
    ASSERT_TRUE (pumpUntil ([&] { return worker.gained > 10; }));

    // From here the message thread hands nothing over: the acquisition the worker has started waits
    // for good.
    while (worker.started == worker.gained + worker.refused)
        std::this_thread::yield();

    const auto start = juce::Time::getMillisecondCounterHiRes();
    worker.signalThreadShouldExit();
    EXPECT_TRUE (worker.waitForThreadToExit (10000)) << "a wait that ignores the request hangs here";
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 10000.0);
    EXPECT_EQ (worker.refused, 1);
}

TEST (MessageThreadLock, IsHeldAtOnceOnTheMessageThread)
{
    Worker idle (0);
    const MessageThreadLock::ScopedAcquire acquire (idle.lock);
    EXPECT_TRUE (acquire.lockWasGained());
}
