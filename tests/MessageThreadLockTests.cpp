#include "support/MessageLoop.h"
#include "transfer/MessageThreadLock.h"

#include <gtest/gtest.h>

#include <atomic>

using testing_support::pumpUntil;

namespace
{
// A worker that takes the message-thread lock a given number of times, touching a value that only
// the lock's holder may touch.
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
            const MessageThreadLock::ScopedAcquire acquire (lock);

            if (! acquire.lockWasGained())
            {
                ++refused;
                break;
            }

            ++guardedByTheLock;
            ++gained;
        }
    }

    int times;
    MessageThreadLock lock { *this };
    int guardedByTheLock = 0; // written by the worker under the lock, read by the message thread
    std::atomic<int> gained { 0 }, refused { 0 };
};
} // namespace

TEST (MessageThreadLock, IsTakenAgainAndAgainFromAWorker)
{
    Worker worker (3000);
    worker.startThread();
    ASSERT_TRUE (pumpUntil ([&] { return ! worker.isThreadRunning(); }, 60000));

    EXPECT_EQ (worker.gained, 3000);
    EXPECT_EQ (worker.refused, 0);
    EXPECT_EQ (worker.guardedByTheLock, 3000);
}

TEST (MessageThreadLock, GivesUpAtOnceWhenTheWorkerIsAskedToExit)
{
    Worker worker (1000000);
    worker.startThread();
    ASSERT_TRUE (pumpUntil ([&] { return worker.gained > 10; }));

    // The message thread stops handing the lock over; the worker now waits for it.
    juce::Thread::sleep (100);
    const auto start = juce::Time::getMillisecondCounterHiRes();
    worker.signalThreadShouldExit();
    EXPECT_TRUE (worker.waitForThreadToExit (5000));
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 1000.0);
    EXPECT_EQ (worker.refused, 1);
}

TEST (MessageThreadLock, IsHeldAtOnceOnTheMessageThread)
{
    Worker idle (0);
    const MessageThreadLock::ScopedAcquire acquire (idle.lock);
    EXPECT_TRUE (acquire.lockWasGained());
}
