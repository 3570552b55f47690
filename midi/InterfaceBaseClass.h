#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>

/** A device that firmware messages are sent to: a component that sits on a screen and broadcasts a
    change whenever what it is connected to changes. */
class InterfaceBaseClass : public juce::Component, public juce::ChangeBroadcaster
{
public:
    ~InterfaceBaseClass() override = default;

    /** Copies received bytes into dest; returns how many were copied. */
    virtual int read (juce::uint8* dest, unsigned int maxBytes) = 0;

    /** Sends numBytes bytes as one message. Returns numBytes once the whole message has been handed to
        an open port, and 0 when it reached none. May be called on a thread other than the message thread. */
    virtual int write (const juce::uint8* bytes, int numBytes) = 0;

    /** After the last message: waits until the device has taken everything written, and checks that
        it is still there. False when it is not, or when nothing is open. May be called on a thread
        other than the message thread. */
    virtual bool confirmDelivery() = 0;

    /** Whether the port in use failed because the device stopped taking data, rather than because it
        went away or reported an error. May be called on a thread other than the message thread. */
    virtual bool stoppedTakingData() = 0;

    /** True when the interface has what it needs open to work. */
    virtual bool isConnected() = 0;

    /** The height in pixels that the interface asks of its parent's layout. */
    virtual int getPreferredHeight() = 0;

    /** Whether the component was enabled when its state last changed; readable on any thread. */
    bool isEnabledMirror() const noexcept { return enabledMirror.load(); }

    void enablementChanged() override { enabledMirror = isEnabled(); }

private:
    // Thread crossing: written by whoever changes the enabled state, the component's own or a
    // parent's (the message thread, or the transfer thread holding the message-thread lock), and read
    // by the transfer thread without that lock, to take it only when there is something to disable.
    std::atomic<bool> enabledMirror { true };
};
