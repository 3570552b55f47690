// Sends the carried firmware image the way the program does, without a window: the real port chooser
// and transfer object, on the first port whose name contains the text given (the name or the
// address). Options play a user's bad day on the emulated device: an unplug at a chosen message, a
// port that vanishes between listing and opening, a close after an unplug or on a signal, a retry
// on the same entry of the chooser, and an update pressed again after the device has restarted.
//
//   send_firmware [--udc FILE] [--unplug-at N] [--unplug-delay-us D] [--unplug-before-open]
//                 [--close-after-unplug-ms MS] [--close-on-signal] [--retry-when FILE]
//                 [--watch-restart-ms MS] [--update-while-away] [--update-again-when FILE]
//                 PORT_NAME_PART
//
// --udc names the gadget's UDC file, where writing an empty line unplugs the device.
// --unplug-at N unplugs D microseconds after message N (counted from 0) has been handed to the port.
// --close-after-unplug-ms stops the transfer the way the window's close button does, that long after
// the unplug, and ends the process; --close-on-signal does the same when SIGUSR1 arrives.
// --retry-when waits, after a failure, until FILE exists, then picks the same entry again and starts
// once more.
// --watch-restart-ms watches, after "Update completed", for the device to leave and come back, as the
// update screen does, with MS as the limit of each wait, and ends once the watch has an answer.
// --update-while-away presses update, as the update button does, once the watch has seen the device
// leave: with the port let go, the chooser is at "(Disconnected)" and nothing may be sent.
// --update-again-when waits, once the watch says the device has restarted, until FILE exists, then
// picks the same entry again (the chooser went back to "(Disconnected)" when the device left) and
// starts another transfer; the run ends with that transfer.
//
// Prints the ports found, "UNPLUG ..." when it unplugs, a line "RESULT status=... ms=... t_ms=..." for
// each transfer (t_ms on the monotonic clock), "GUIDANCE text" whenever the screen's guidance line
// would change, "PICKED ..." with what a pick that opened was told apart by, "WATCH state=N" for each
// state of the restart watch (in the order of RestartWatch::State), "UPDATE connected=..." for each
// press of update, and "EXIT ..." at the end; a port that does not open gives "RESULT status="the
// port did not open" reason=..." and the ports listed then. Exits 0 only when the last transfer
// completed, or, with a close, when the close ended everything.

#include "midi/RestartWatch.h"
#include "screens/Guidance.h"
#include "transfer/StandaloneTransfer.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <execinfo.h>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>
#include <utility>

namespace
{
double now()
{
    return juce::Time::getMillisecondCounterHiRes();
}

struct Options
{
    bool unplugBeforeOpen = false, closeOnSignal = false, updateWhileAway = false;
    juce::String udc, retryFile, updateAgainFile, portName;
    long unplugAt = -1;
    int unplugDelayUs = 0, closeAfterUnplugMs = -1, watchRestartMs = -1;
};

void unplug (const juce::String& udc)
{
    std::ofstream (udc.toStdString()) << "\n";
}

/** The platform's ports, each opened port watched: it counts the messages, times the check after the
    last one, and unplugs the device at the message asked for. */
class ObservedPorts : public MidiPortList
{
public:
    ObservedPorts (MidiPortList& innerPorts, const Options& optionsToUse, std::function<void()> onUnplug)
        : inner (innerPorts)
        , options (optionsToUse)
        , unplugged (std::move (onUnplug))
    {
    }

    ~ObservedPorts() override
    {
        if (unplugger.joinable())
            unplugger.join();
    }

    juce::StringArray getOutputNames() override { return inner.getOutputNames(); }

    PickedPort describePort (int index) override { return inner.describePort (index); }
    FoundPort findDevice (const PickedPort& picked) override { return inner.findDevice (picked); }

    Opened openOutput (int index) override
    {
        auto opened = inner.openOutput (index);

        if (opened.port != nullptr)
            opened.port = std::make_unique<Port> (std::move (opened.port), *this);

        return opened;
    }

    // Written on the transfer thread (the count, the check's time) and the unplugging thread (the
    // unplug's time) while a transfer runs, and set back on the message thread before one starts;
    // read there once it has ended.
    std::atomic<long> messages { 0 };
    std::atomic<double> confirmMs { 0 }, unplugTime { 0 };

private:
    class Port : public MidiOutputPort
    {
    public:
        Port (std::unique_ptr<MidiOutputPort> innerPort, ObservedPorts& ownerToUse)
            : port (std::move (innerPort))
            , owner (ownerToUse)
        {
        }

        PortResult sendMessage (const juce::uint8* bytes, int numBytes) override
        {
            const long index = owner.messages;

            if (index == owner.options.unplugAt && ! owner.unplugger.joinable())
                owner.unplugger = std::thread (
                    [&observer = owner]
                    {
                        std::this_thread::sleep_for (
                            std::chrono::microseconds (observer.options.unplugDelayUs));
                        observer.unplugTime =
                            now(); // before the write, which returns once the kernel has handled it
                        unplug (observer.options.udc);
                        observer.unplugged();
                        std::printf ("UNPLUG after_message=%ld delay_us=%d\n", observer.options.unplugAt,
                                     observer.options.unplugDelayUs);
                    });

            const auto sent = port->sendMessage (bytes, numBytes);
            owner.messages += sent == PortResult::ok ? 1 : 0;
            return sent;
        }

        PortResult confirmDelivery() override
        {
            const double start = now();
            const auto confirmed = port->confirmDelivery();
            owner.confirmMs = now() - start;
            return confirmed;
        }

    private:
        std::unique_ptr<MidiOutputPort> port;
        ObservedPorts& owner;
    };

    MidiPortList& inner;
    const Options& options;
    std::function<void()> unplugged;
    std::thread unplugger;
};

/** Drives the transfers from the message loop. Nothing polls while a transfer runs (the program has
    no timers either): the end is seen by the status change, and only a wait for a cue file ticks. */
class Sender : private juce::Timer, private juce::ChangeListener
{
public:
    Sender (MidiPortList& platformPorts, const Options& optionsToUse)
        : options (optionsToUse)
        , ports (platformPorts, optionsToUse, [this] { unplugged(); })
    {
        const auto names = ports.getOutputNames();

        for (int i = 0; i < names.size(); ++i)
            std::printf ("port %d: %s\n", i + 1, names[i].toRawUTF8());

        transfer = std::make_unique<StandaloneTransfer> (ports);

        for (int i = 0; i < names.size() && portId == 0; ++i)
            if (names[i].contains (options.portName))
                portId = i + 1;

        if (portId == 0)
        {
            finish (juce::String ("no port named like '") + options.portName + "'");
            return;
        }

        transfer->protocol->addChangeListener (this);

        // The device goes between the listing and the opening: the chooser still offers it.
        if (options.unplugBeforeOpen)
        {
            ports.unplugTime = now();
            unplug (options.udc);
            std::printf ("UNPLUG before_open\n");

            while (juce::File ("/proc/asound/cards").loadFileAsString().contains ("USB-Audio"))
                juce::Thread::sleep (10);
        }

        if (pickEntry())
            startOnOpenPort();
    }

    ~Sender() override
    {
        stopTimer();
        transfer = nullptr;
    }

    int exitCode = 1;
    double closeRequested = 0;

private:
    juce::ComboBox* selector()
    {
        for (auto* child : transfer->chooser.getChildren())
            if (auto* box = dynamic_cast<juce::ComboBox*> (child))
                return box;

        return nullptr;
    }

    /** The ID of the chooser's first entry whose text holds this, or 0. */
    int entryNamed (const juce::String& part)
    {
        if (auto* box = selector())
            for (int i = 0; i < box->getNumItems(); ++i)
                if (box->getItemText (i).contains (part) && box->getItemText (i) != "(Disconnected)")
                    return box->getItemId (i);

        return 0;
    }

    /** Picks the entry of the port asked for in the chooser; true when its port opened. */
    bool pickEntry()
    {
        if (auto* box = selector())
            box->setSelectedId (portId, juce::sendNotificationSync);

        if (! transfer->chooser.isConnected())
        {
            // In the order of MidiPortList::OpenProblem.
            const char* reasons[] = { "none", "in-use", "not-allowed", "not-present", "failed" };
            std::printf ("RESULT status=\"the port did not open\" reason=%s\n",
                         reasons[static_cast<int> (transfer->chooser.getOpenProblem())]);

            if (auto* box = dynamic_cast<juce::ComboBox*> (transfer->chooser.getChildComponent (0)))
                for (int i = 0; i < box->getNumItems(); ++i)
                    std::printf ("listed now: %s\n", box->getItemText (i).toRawUTF8());

            printGuidance();
            exitCode = 1;
            finish ({});
            return false;
        }

        const auto picked = transfer->chooser.getOpenDevice();
        std::printf ("PICKED entry=%d listed_at=%s identified=%d device=\"%s\"\n", portId,
                     picked.port.address.c_str(), picked.identified ? 1 : 0, picked.port.device.c_str());
        return true;
    }

    void startOnOpenPort()
    {
        shownStatus = {};
        ports.messages = 0;
        ports.confirmMs = 0;
        startTime = now();
        transfer->protocol->startTransfer();
    }

    /** What the update button does: after a completed update the device picked is opened anew (its
        port from before a restart may be dead); then the watch of the last update ends and a transfer
        starts on the port open, and with none open nothing is sent (the window asks for a device).
        True when a transfer started. */
    bool pressUpdate()
    {
        transfer->chooser.reopenPortAfterUpdate();

        const bool connected = transfer->chooser.isConnected();
        auto* box = selector();
        std::printf ("UPDATE connected=%d shown=\"%s\" t_ms=%.1f\n", connected ? 1 : 0,
                     box != nullptr ? box->getText().toRawUTF8() : "", now());
        std::fflush (stdout);

        if (connected)
        {
            restartWatch.stop();
            startOnOpenPort();
        }

        return connected;
    }

    /** Waits until this file exists, the test machine's cue for the user's next step, then takes it. */
    void whenFileExists (const juce::String& file, std::function<void()> step)
    {
        cueFile = file;
        nextStep = std::move (step);
        startTimer (10);
    }

    // On the unplugging thread.
    void unplugged()
    {
        if (options.closeAfterUnplugMs >= 0)
            juce::MessageManager::callAsync (
                [this] {
                    juce::Timer::callAfterDelay (options.closeAfterUnplugMs,
                                                 [this] { closeAsTheWindowDoes(); });
                });
    }

    void changeListenerCallback (juce::ChangeBroadcaster*) override
    {
        const auto published = transfer->protocol->getPublished();
        const auto& status = published.status;

        if (closeRequested > 0 || published.outcome == ProtocolBaseClass::Outcome::uploading ||
            status == shownStatus)
            return;

        // The outcome is out; the thread only gives the chooser back before it ends, which the timer
        // waits for (that needs the message thread).
        const double statusTime = now();
        shownStatus = status;
        const double unplugToStatus = ports.unplugTime > 0 ? statusTime - ports.unplugTime : -1;
        std::printf ("RESULT status=\"%s\" messages=%ld ms=%.1f confirm_ms=%.1f unplug_to_status_ms=%.1f "
                     "t_ms=%.1f\n",
                     status.toRawUTF8(), (long) ports.messages, statusTime - startTime,
                     (double) ports.confirmMs, unplugToStatus, statusTime);
        printGuidance();
        std::fflush (stdout);

        if (options.watchRestartMs >= 0 && published.outcome == ProtocolBaseClass::Outcome::completed)
        {
            restartWatch.limitMilliseconds = options.watchRestartMs;
            restartWatch.watch (transfer->chooser.getOpenDevice());
        }

        startTimer (1);
    }

    /** The line the update screen would show under its bar now. */
    void printGuidance()
    {
        const auto text =
            guidanceText (transfer->protocol->getOutcome(), restartWatch.getState(),
                          transfer->chooser.getOpenProblem(), transfer->chooser.getOpenErrorText());

        if (text != shownGuidance)
            std::printf ("GUIDANCE %s\n", text.toRawUTF8());

        shownGuidance = text;
        std::fflush (stdout);
    }

    void restartWatchChanged()
    {
        transfer->chooser.followRestart (restartWatch);

        printGuidance();

        using State = RestartWatch::State;
        const auto state = restartWatch.getState();
        std::printf ("WATCH state=%d t_ms=%.1f\n", static_cast<int> (state), now());
        std::fflush (stdout);

        if (state == State::away && options.updateWhileAway)
            pressUpdate();

        // Back from its restart: the user picks the device again, as the chooser let go of it, and
        // presses update once more. The watch ends with the pick, as on the update screen.
        if (state == State::restarted && options.updateAgainFile.isNotEmpty() && ! updatingAgain)
        {
            updatingAgain = true;
            whenFileExists (options.updateAgainFile,
                            [this]
                            {
                                restartWatch.stop();

                                // The chooser listed the ports anew when the device came back: its
                                // entry is found again by its name, as a user finds it.
                                portId = entryNamed (options.portName);

                                // Not sent: nothing more will happen.
                                if (pickEntry() && ! pressUpdate())
                                {
                                    exitCode = 1;
                                    finish ({});
                                }
                            });
            return;
        }

        // The watch's answer is the last line: stopping it would change the line back.
        if (state == State::restarted || state == State::didNotLeave || state == State::didNotReturn)
            finish ({});
    }

    void timerCallback() override
    {
        if (transfer->protocol->isThreadRunning())
            return;

        if (cueFile.isNotEmpty())
        {
            if (juce::File (cueFile).exists())
            {
                stopTimer();
                cueFile = {};
                const auto step = std::exchange (nextStep, nullptr);
                step();
            }

            return;
        }

        stopTimer();
        const bool completed = transfer->protocol->getOutcome() == ProtocolBaseClass::Outcome::completed;

        // The close comes at its time, whatever the transfer did meanwhile.
        if (options.closeAfterUnplugMs >= 0)
            return;

        // The update pressed again after a restart ends the run.
        if (completed && updatingAgain)
        {
            exitCode = 0;
            finish ({});
            return;
        }

        // A restart watch ends the run once it has its answer.
        if (completed && restartWatch.getState() != RestartWatch::State::off)
        {
            exitCode = 0;
            return;
        }

        if (! completed && options.retryFile.isNotEmpty() && ! retried)
        {
            retried = true;
            ports.unplugTime = 0;
            whenFileExists (options.retryFile,
                            [this]
                            {
                                if (pickEntry())
                                    startOnOpenPort();
                            });
            return;
        }

        exitCode = completed ? 0 : 1;
        finish ({});
    }

public:
    // What the window's close button does, then the end of the message loop and, in main, the
    // destruction of everything, the port included.
    void closeAsTheWindowDoes()
    {
        closeRequested = now();
        const bool ended = transfer->protocol->stop (5000);
        std::printf ("CLOSE after_unplug_ms=%.0f thread_ended=%d wait_ms=%.1f\n",
                     ports.unplugTime > 0 ? closeRequested - ports.unplugTime : -1.0, ended ? 1 : 0,
                     now() - closeRequested);
        exitCode = ended ? 0 : 1;
        finish ({});
    }

private:
    void finish (const juce::String& problem)
    {
        if (problem.isNotEmpty())
            std::printf ("RESULT status=\"%s\"\n", problem.toRawUTF8());

        std::fflush (stdout);
        juce::MessageManager::callAsync ([] { juce::MessageManager::getInstance()->stopDispatchLoop(); });
    }

    const Options& options;
    ObservedPorts ports;
    std::unique_ptr<StandaloneTransfer> transfer;
    int portId = 0;
    double startTime = 0;
    juce::String shownStatus, shownGuidance, cueFile;
    std::function<void()> nextStep; // taken once cueFile exists
    bool retried = false, updatingAgain = false;
    RestartWatch restartWatch { ports, [this] { restartWatchChanged(); } };
};

// A crash inside the test machine leaves no core file to look at: print where it happened.
void printBacktraceAndExit (int signalNumber)
{
    void* frames[64];
    const int count = backtrace (frames, 64);
    backtrace_symbols_fd (frames, count, STDERR_FILENO);
    _exit (128 + signalNumber);
}

bool parse (int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        const bool hasValue = i + 1 < argc;

        if (arg == "--unplug-before-open")
            o.unplugBeforeOpen = true;
        else if (arg == "--udc" && hasValue)
            o.udc = argv[++i];
        else if (arg == "--unplug-at" && hasValue)
            o.unplugAt = juce::String (argv[++i]).getLargeIntValue();
        else if (arg == "--unplug-delay-us" && hasValue)
            o.unplugDelayUs = juce::String (argv[++i]).getIntValue();
        else if (arg == "--close-after-unplug-ms" && hasValue)
            o.closeAfterUnplugMs = juce::String (argv[++i]).getIntValue();
        else if (arg == "--close-on-signal")
            o.closeOnSignal = true;
        else if (arg == "--retry-when" && hasValue)
            o.retryFile = argv[++i];
        else if (arg == "--watch-restart-ms" && hasValue)
            o.watchRestartMs = juce::String (argv[++i]).getIntValue();
        else if (arg == "--update-while-away")
            o.updateWhileAway = true;
        else if (arg == "--update-again-when" && hasValue)
            o.updateAgainFile = argv[++i];
        else if (o.portName.isEmpty() && ! arg.startsWith ("--"))
            o.portName = arg;
        else
            return false;
    }

    const bool watchAsked = o.watchRestartMs >= 0 || (! o.updateWhileAway && o.updateAgainFile.isEmpty());
    return o.portName.isNotEmpty() && (o.udc.isNotEmpty() || (o.unplugAt < 0 && ! o.unplugBeforeOpen)) &&
           watchAsked;
}
} // namespace

int main (int argc, char** argv)
{
    std::signal (SIGSEGV, printBacktraceAndExit);
    std::signal (SIGABRT, printBacktraceAndExit);

    Options options;

    if (! parse (argc, argv, options))
    {
        std::fprintf (stderr, "usage: see the top of send_firmware.cpp\n");
        return 2;
    }

    // SIGUSR1 goes to a thread of its own, which asks the message thread to close; every thread made
    // later inherits the blocked signal.
    sigset_t closeSignal;
    sigemptyset (&closeSignal);
    sigaddset (&closeSignal, SIGUSR1);
    pthread_sigmask (SIG_BLOCK, &closeSignal, nullptr);

    int exitCode = 1;
    double closeRequested = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juceSupport;
        {
            Sender sender (MidiPortList::getPlatformPorts(), options);

            if (options.closeOnSignal)
                std::thread (
                    [&sender, closeSignal]
                    {
                        int received = 0;
                        sigwait (&closeSignal, &received);
                        juce::MessageManager::callAsync ([&sender] { sender.closeAsTheWindowDoes(); });
                    })
                    .detach();

            juce::MessageManager::getInstance()->runDispatchLoop();
            exitCode = sender.exitCode;
            closeRequested = sender.closeRequested;
        }
    }

    if (closeRequested > 0)
        std::printf ("EXIT close_to_exit_ms=%.1f\n", now() - closeRequested);

    std::fflush (stdout);
    return exitCode;
}
