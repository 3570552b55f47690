// Streams the carried image through the real transfer object into an in-memory port that takes each
// message at once, with the framework's own message loop running, and prints where the time goes:
// headless, against the floor of a plain loop handing the same messages to the same port, and with
// the update screen showing and repainting.
//
//   transfer_benchmark [runs]

#include "firmware/FirmwareDescriptor.h"
#include "firmware/SysexFraming.h"
#include "midi/MidiInterfaceClass.h"
#include "screens/ContentComp.h"
#include "support/BareXServer.h"
#include "support/InMemoryMidiPorts.h"
#include "support/ScreenProbe.h"
#include "transfer/StandaloneTransfer.h"

#include <algorithm>
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
    double wallMs = 0, meanMessageUs = 0, maxMessageMs = 0, longestHoldMs = 0;
    int callbacks = 0;
    std::size_t messages = 0;
};

double median (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

/** Runs transfers one after another from inside the message loop, and watches each: the time between
    two messages on the transfer thread, and the longest time the message thread could not run a
    message that re-posts itself. Everything here runs on the message thread but the port's hook. */
class TransferRuns : private juce::ChangeListener
{
public:
    TransferRuns (InMemoryMidiPorts::Device& deviceToWatch, BasicSysexProtocolClass& protocolToRun,
                  std::function<void()> startToUse, int numRuns)
        : device (deviceToWatch)
        , protocol (protocolToRun)
        , start (std::move (startToUse))
        , runsLeft (numRuns)
    {
        device.keepMessages = false;

        // On the transfer thread: the time between one message and the next. Read on the message
        // thread once the run has ended.
        device.onSend = [this]
        {
            const double t = now();

            if (lastSend > 0)
            {
                sumGaps += t - lastSend;
                maxGap = juce::jmax (maxGap, t - lastSend);
            }

            lastSend = t;
        };

        protocol.addChangeListener (this);
        juce::MessageManager::callAsync ([this] { startRun(); });

        while (! finished)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    }

    ~TransferRuns() override
    {
        protocol.removeChangeListener (this);
        device.onSend = nullptr;
    }

    std::vector<RunFigures> results;

private:
    void startRun()
    {
        lastSend = sumGaps = maxGap = longestHold = 0;
        callbacks = 0;
        messagesBefore = device.getNumMessages();
        startTime = lastTick = now();
        start();
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
        f.wallMs = t - startTime;
        f.messages = device.getNumMessages() - messagesBefore;
        f.meanMessageUs = f.messages > 1 ? 1000.0 * sumGaps / double (f.messages - 1) : 0.0;
        f.maxMessageMs = maxGap;
        f.longestHoldMs = longestHold;
        f.callbacks = callbacks;
        results.push_back (f);

        if (protocol.getOutcome() != ProtocolBaseClass::Outcome::completed || --runsLeft <= 0)
            finished = true;
        else
            juce::MessageManager::callAsync ([this] { startRun(); });
    }

    void changeListenerCallback (juce::ChangeBroadcaster*) override { ++callbacks; }

    InMemoryMidiPorts::Device& device;
    BasicSysexProtocolClass& protocol;
    std::function<void()> start;
    int runsLeft;
    bool finished = false;
    std::size_t messagesBefore = 0;
    double startTime = 0, lastTick = 0, longestHold = 0;
    int callbacks = 0;
    double lastSend = 0, sumGaps = 0, maxGap = 0;
};

void printRuns (const char* title, const std::vector<RunFigures>& runs)
{
    std::printf ("\n%s\n", title);
    std::printf ("%4s %9s %9s %12s %13s %16s %10s\n", "run", "wall ms", "messages", "mean us/msg",
                 "slowest msg ms", "longest hold ms", "callbacks");

    for (std::size_t i = 0; i < runs.size(); ++i)
    {
        const auto& f = runs[i];
        std::printf ("%4zu %9.2f %9zu %12.2f %13.3f %16.3f %10d\n", i + 1, f.wallMs, f.messages,
                     f.meanMessageUs, f.maxMessageMs, f.longestHoldMs, f.callbacks);
    }
}

std::vector<double> wallTimes (const std::vector<RunFigures>& runs)
{
    std::vector<double> times;

    for (const auto& f : runs)
        times.push_back (f.wallMs);

    return times;
}

void printSummary (const char* what, const std::vector<RunFigures>& runs, double floorMs)
{
    const auto times = wallTimes (runs);
    const double med = median (times), slowest = *std::max_element (times.begin(), times.end());
    double hold = 0;

    for (const auto& f : runs)
        hold = juce::jmax (hold, f.longestHoldMs);

    std::printf ("%-34s median %8.2f ms, slowest %8.2f ms (%.2f x median), %.1f x the floor, "
                 "longest hold %.3f ms\n",
                 what, med, slowest, slowest / med, med / floorMs, hold);
}

/** The floor: the same messages handed to the same kind of port by a plain loop, on this thread. */
std::vector<double> floorRuns (int numRuns)
{
    InMemoryMidiPorts ports ({ "Floor port" });
    ports.device (0).keepMessages = false;
    const EmbeddedFirmware firmware;
    const auto lengths = sysex::splitMessages (firmware.data, firmware.size);
    std::vector<double> times;

    for (int run = 0; run < numRuns; ++run)
    {
        auto port = ports.openOutput (0).port;
        const double start = now();
        const auto* message = firmware.data;

        for (const auto length : lengths)
        {
            port->sendMessage (message, static_cast<int> (length));
            message += length;
        }

        port->confirmDelivery();
        times.push_back (now() - start);
    }

    return times;
}
} // namespace

int main (int argc, char** argv)
{
    const int runs = argc > 1 ? juce::jmax (5, std::atoi (argv[1])) : 5;
    testing_support::tolerateBareXServer();
    const juce::ScopedJuceInitialiser_GUI juceSupport;

    const auto floorTimes = floorRuns (runs);
    const double floorMs = median (floorTimes);

    std::vector<RunFigures> headless, visible;
    {
        InMemoryMidiPorts ports ({ "Benchmark port" });
        StandaloneTransfer transfer (ports);
        testing_support::find<juce::ComboBox> (transfer.chooser)
            ->setSelectedId (1, juce::sendNotificationSync);
        auto& protocol = *transfer.protocol;

        headless = TransferRuns (
                       ports.device (0), protocol, [&] { protocol.startTransfer(); }, runs)
                       .results;
    }
    {
        // The update screen in a window of its own on the display, started by its button's handler.
        InMemoryMidiPorts ports ({ "Benchmark port" });
        ContentComp screen (nullptr, {}, ports);
        screen.setSize (642, 366);
        screen.addToDesktop (juce::ComponentPeer::windowHasDropShadow);
        screen.setVisible (true);
        testing_support::find<juce::ComboBox> (screen)->setSelectedId (1, juce::sendNotificationSync);
        auto& update = *testing_support::button (screen, "update");

        visible = TransferRuns (
                      ports.device (0), *screen.protocol, [&] { screen.buttonClicked (&update); }, runs)
                      .results;
    }

    std::printf ("Carried image (%u bytes) into an in-memory port that takes each message at once\n",
                 EmbeddedFirmware().size);
    std::printf ("\nFloor, a plain loop with no thread, lock or broadcast: median %.2f ms, slowest %.2f ms\n",
                 floorMs, *std::max_element (floorTimes.begin(), floorTimes.end()));
    printRuns ("Through the transfer thread, headless:", headless);
    printRuns ("Through the update screen, shown and repainting (from the click):", visible);
    std::printf ("\n");
    printSummary ("Headless:", headless, floorMs);
    printSummary ("Update screen shown:", visible, floorMs);
    return 0;
}
