#pragma once

#include <juce_events/juce_events.h>

#include <functional>

namespace testing_support
{
/** A change listener for tests, registered on one broadcaster while it exists: counts the callbacks it
    gets, on the message thread, and runs a function on each when given one. */
class ChangeWatcher : public juce::ChangeListener
{
public:
    explicit ChangeWatcher (juce::ChangeBroadcaster& source, std::function<void()> onChange = {})
        : broadcaster (source)
        , callback (std::move (onChange))
    {
        broadcaster.addChangeListener (this);
    }

    ~ChangeWatcher() override { broadcaster.removeChangeListener (this); }

    void changeListenerCallback (juce::ChangeBroadcaster*) override
    {
        ++count;

        if (callback)
            callback();
    }

    int count = 0;

private:
    juce::ChangeBroadcaster& broadcaster;
    std::function<void()> callback;

    JUCE_DECLARE_NON_COPYABLE (ChangeWatcher)
};
} // namespace testing_support
