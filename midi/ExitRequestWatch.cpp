#include "ExitRequestWatch.h"

ExitRequestWatch::ExitRequestWatch (std::function<void()> wakeFunction)
    : thread (juce::Thread::getCurrentThread())
    , wake (std::move (wakeFunction))
{
    if (thread != nullptr)
        thread->addListener (this);
}

ExitRequestWatch::ExitRequestWatch (juce::Thread& threadToWatch, std::function<void()> wakeFunction)
    : thread (&threadToWatch)
    , wake (std::move (wakeFunction))
{
    thread->addListener (this);
}

ExitRequestWatch::~ExitRequestWatch()
{
    if (thread != nullptr)
        thread->removeListener (this);
}

bool ExitRequestWatch::exitRequested() const
{
    return thread != nullptr && thread->threadShouldExit();
}

void ExitRequestWatch::exitSignalSent()
{
    wake();
}
