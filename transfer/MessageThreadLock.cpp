#include "MessageThreadLock.h"

MessageThreadLock::MessageThreadLock (juce::Thread& workerToWatch)
    : worker (workerToWatch)
{
}

MessageThreadLock::ScopedAcquire::ScopedAcquire (MessageThreadLock& lockToTake)
    : owner (lockToTake)
{
    if (juce::MessageManager::existsAndIsCurrentThread())
    {
        gained = onMessageThread = true;
        return;
    }

    // A wait can also end early without an exit request; then it is tried again.
    while (! owner.worker.threadShouldExit() && juce::MessageManager::getInstanceWithoutCreating() != nullptr)
    {
        if (owner.lock.tryEnter())
        {
            gained = true;
            break;
        }
    }

    if (gained && owner.worker.threadShouldExit())
    {
        owner.lock.exit();
        gained = false;
    }
}

MessageThreadLock::ScopedAcquire::~ScopedAcquire()
{
    if (gained && ! onMessageThread)
        owner.lock.exit();
}
