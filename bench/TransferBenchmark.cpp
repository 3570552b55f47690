// Streams the carried image through the real transfer object into an in-memory port that takes each
// message at once, with the framework's own message loop running, and prints where the time goes.
//
//   transfer_benchmark [runs]

#include "firmware/FirmwareDescriptor.h"
#include "midi/MidiInterfaceClass.h"
#include "support/InMemoryMidiPorts.h"
#include "support/ScreenProbe.h"
#include "transfer/BasicSysexProtocolClass.h"

#include <cstdio>
#include <vector>

namespace
{
double now()
{
    return juce::Time::getMillisecondCounterHiRes();
}

struct RunFigures
{
    double wallMs = 0, meanMessageMs = 0, maxMessageMs = 0, longestHoldMs = 0;
    int callbacks = 0;
    std::size_t messages = 0;
};

/** Drives the runs from inside the message loop: starts a transfer, watches it, and stops the loop
    when the last run has ended. Everything here runs on the message thread, except the port's hook. */
class BenchmarkDriver : private juce::ChangeListener
{
public:
    explicit BenchmarkDriver (int numRuns)
        : ports ({ "Benchmark port" })
        , midi (ports)
        , protocol (&midi, &firmware)
        , runsLeft (numRuns)
    {
        auto& device = ports.device (0);
        device.keepMessages = false;

        // On the transfer thread: the time between one message and the next.
        device.onSend = [this]
        {
            const double t = now();

            if (lastSend > 0)
            {
                const double gap = t - lastSend;
                sumGaps += gap;
                maxGap = juce::jmax (maxGap, gap);
            }

            lastSend = t;
        };

        protocol.addChangeListener (this);
        juce::MessageManager::callAsync ([this] { selectPortAndStart(); });
    }

    ~BenchmarkDriver() override
    {
        protocol.removeChangeListener (this);
        ports.device (0).onSend = nullptr;
    }

    std::vector<RunFigures> results;

private:
    void selectPortAndStart()
    {
        // Picks the port as a user's choice does; it opens when the notification arrives.
        screen_probe::find<juce::ComboBox> (midi)->setSelectedId (1);

        juce::MessageManager::callAsync ([this] { startRun(); });
    }

    void startRun()
    {
        if (! midi.isConnected())
        {
            juce::MessageManager::callAsync ([this] { startRun(); });
            return;
        }

        lastSend = 0;
        sumGaps = maxGap = 0;
        callbacks = 0;
        longestHold = 0;
        messagesBefore = ports.device (0).getNumMessages();
        start = lastTick = now();
        protocol.startTransfer();
        tick();
    }

    // Re-posts itself: the gap between two ticks is how long the message thread could not run them.
    void tick()
    {
        const double t = now();
        longestHold = juce::jmax (longestHold, t - lastTick);
        lastTick = t;

        if (protocol.isThreadRunning())
        {
            juce::MessageManager::callAsync ([this] { tick(); });
            return;
        }

        RunFigures f;
        f.wallMs = t - start;
        f.messages = ports.device (0).getNumMessages() - messagesBefore;
        f.meanMessageMs = f.messages > 1 ? sumGaps / double (f.messages - 1) : 0.0;
        f.maxMessageMs = maxGap;
        f.longestHoldMs = longestHold;
        f.callbacks = callbacks;
        results.push_back (f);

        if (protocol.getStatus() != ProtocolBaseClass::completedStatus || --runsLeft <= 0)
            juce::MessageManager::getInstance()->stopDispatchLoop();
        else
            juce::MessageManager::callAsync ([this] { startRun(); });
    }

    void changeListenerCallback (juce::ChangeBroadcaster* source) override
    {
        if (source == &protocol)
            ++callbacks;
    }

    InMemoryMidiPorts ports;
    MidiInterfaceClass midi;
    EmbeddedFirmware firmware;
    BasicSysexProtocolClass protocol;

    int runsLeft;
    std::size_t messagesBefore = 0;
    double start = 0, lastTick = 0, longestHold = 0;
    int callbacks = 0;

    // Written on the transfer thread during a run, read on the message thread once it has ended.
    double lastSend = 0, sumGaps = 0, maxGap = 0;
};
} // namespace

int main (int argc, char** argv)
{
    const int runs = argc > 1 ? juce::jmax (1, std::atoi (argv[1])) : 5;
    const juce::ScopedJuceInitialiser_GUI juceSupport;

    std::vector<RunFigures> results;
    {
        BenchmarkDriver driver (runs);
        juce::MessageManager::getInstance()->runDispatchLoop();
        results = driver.results;
    }

    std::printf ("Carried image through the transfer thread into an in-memory port (%d runs)\n", runs);
    std::printf ("%4s %10s %9s %16s %15s %20s %17s\n", "run", "wall ms", "messages", "mean per msg us",
                 "max per msg ms", "longest hold ms", "change callbacks");

    for (std::size_t i = 0; i < results.size(); ++i)
    {
        const auto& f = results[i];
        std::printf ("%4zu %10.2f %9zu %16.2f %15.3f %20.3f %17d\n", i + 1, f.wallMs, f.messages,
                     f.meanMessageMs * 1000.0, f.maxMessageMs, f.longestHoldMs, f.callbacks);
    }

    return 0;
}
