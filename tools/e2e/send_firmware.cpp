// Sends the carried firmware image the way the program does, without a window: the real port chooser
// and transfer object, on the port whose name contains the text given.
//
//   send_firmware [--framework] PORT_NAME_PART
//
// --framework sends through the framework's MIDI output (the ALSA sequencer on Linux) instead of the
// program's own ports. Prints the ports found, then one line "RESULT status=... messages=... ms=...";
// exits 0 only when the transfer completed.

#include "firmware/FirmwareDescriptor.h"
#include "midi/MidiInterfaceClass.h"
#include "transfer/BasicSysexProtocolClass.h"

#include <csignal>
#include <cstdio>
#include <execinfo.h>
#include <unistd.h>

namespace
{
class Sender : private juce::Timer
{
public:
    Sender (MidiOutputPorts& portsToUse, const juce::String& namePart)
        : ports (portsToUse)
    {
        const auto names = ports.getOutputNames();

        for (int i = 0; i < names.size(); ++i)
            std::printf ("port %d: %s\n", i + 1, names[i].toRawUTF8());

        midi = std::make_unique<MidiInterfaceClass> (ports);

        for (int i = 0; i < names.size() && portId == 0; ++i)
            if (names[i].contains (namePart))
                portId = i + 1;

        if (portId == 0)
        {
            std::printf ("RESULT status=\"no port named like '%s'\"\n", namePart.toRawUTF8());
            juce::MessageManager::callAsync ([] { juce::MessageManager::getInstance()->stopDispatchLoop(); });
            return;
        }

        protocol = std::make_unique<BasicSysexProtocolClass> (midi.get(), &firmware);

        for (auto* child : midi->getChildren())
            if (auto* box = dynamic_cast<juce::ComboBox*> (child))
                box->setSelectedId (portId);

        startTimer (1);
    }

    ~Sender() override
    {
        stopTimer();
        protocol = nullptr;
        midi = nullptr;
    }

    bool completed = false;

private:
    void timerCallback() override
    {
        if (! started)
        {
            if (! midi->isConnected())
            {
                if (++waits > 2000)
                    finish ("the port did not open");
                return;
            }

            started = true;
            startTime = juce::Time::getMillisecondCounterHiRes();
            protocol->startTransfer();
            return;
        }

        if (! protocol->isThreadRunning())
            finish (protocol->getStatus());
    }

    void finish (const juce::String& status)
    {
        stopTimer();
        const double ms = started ? juce::Time::getMillisecondCounterHiRes() - startTime : 0.0;
        completed = status == ProtocolBaseClass::completedStatus;
        std::printf ("RESULT status=\"%s\" bytes=%u ms=%.1f\n", status.toRawUTF8(), firmware.size, ms);
        std::fflush (stdout);
        juce::MessageManager::getInstance()->stopDispatchLoop();
    }

    MidiOutputPorts& ports;
    EmbeddedFirmware firmware;
    std::unique_ptr<MidiInterfaceClass> midi;
    std::unique_ptr<BasicSysexProtocolClass> protocol;
    int portId = 0, waits = 0;
    bool started = false;
    double startTime = 0;
};
} // namespace

namespace
{
// A crash inside the test machine leaves no core file to look at: print where it happened.
void printBacktraceAndExit (int signalNumber)
{
    void* frames[64];
    const int count = backtrace (frames, 64);
    backtrace_symbols_fd (frames, count, STDERR_FILENO);
    _exit (128 + signalNumber);
}
} // namespace

int main (int argc, char** argv)
{
    std::signal (SIGSEGV, printBacktraceAndExit);
    std::signal (SIGABRT, printBacktraceAndExit);

    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
        args.add (argv[i]);

    const bool framework = args.contains ("--framework");
    args.removeString ("--framework");

    if (args.size() != 1)
    {
        std::fprintf (stderr, "usage: send_firmware [--framework] PORT_NAME_PART\n");
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juceSupport;
    bool completed = false;
    {
        Sender sender (framework ? MidiOutputPorts::getFrameworkPorts() : MidiOutputPorts::getPlatformPorts(), args[0]);
        juce::MessageManager::getInstance()->runDispatchLoop();
        completed = sender.completed;
    }

    return completed ? 0 : 1;
}
