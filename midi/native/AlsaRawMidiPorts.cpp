#include "AlsaRawMidiPorts.h"
#include "midi/ExitRequestWatch.h"
#include "AlsaPortNames.h"
#include "RawMidiSender.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdarg>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;

// However poll() reports, each wait looks at the port's status at least this often.
constexpr long pollSliceMilliseconds = 100;

long millisecondsSince (Clock::time_point start)
{
    return static_cast<long> (
        std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - start).count());
}

/** ALSA's library prints the failures of its own calls on stderr. Every call here checks its result
    and handles what unplugs, stalls and busy ports cause: those stay quiet. Anything else still goes
    to stderr, in one line. */
void alsaLibraryError (const char* file, int line, const char* function, int err, const char* format, ...)
{
    switch (err)
    {
        case ENODEV:
        case ENXIO:
        case ENOENT:
        case EBUSY:
        case EIO:
        case EAGAIN:
        case EPIPE:
        case ESHUTDOWN:
            return;
        default:
            break;
    }

    std::va_list args;
    va_start (args, format);
    std::fprintf (stderr, "ALSA (%s:%d, %s): ", file, line, function);
    std::vfprintf (stderr, format, args);
    va_end (args);
    std::fprintf (stderr, err != 0 ? ": %s\n" : "\n", snd_strerror (-err));
}

/** One open raw MIDI output in non-blocking mode. Its waits use poll() on the port's descriptors and
    on a wake channel of its own, which an exit request of the waiting thread sets. */
class AlsaRawMidiPort : public MidiOutputPort, private RawMidiStream
{
public:
    AlsaRawMidiPort (snd_rawmidi_t* outputToUse, std::size_t bufferSizeToUse, int wakeFdToUse,
                     bool driverShowsTransfersInFlight)
        : output (outputToUse)
        , bufferSize (bufferSizeToUse)
        , wakeFd (wakeFdToUse)
        , showsTransfersInFlight (driverShowsTransfersInFlight)
    {
        const int count = snd_rawmidi_poll_descriptors_count (output);
        fds.resize (static_cast<std::size_t> (juce::jmax (0, count)) + 1);
        snd_rawmidi_poll_descriptors (output, fds.data(), static_cast<unsigned int> (count));
        fds.back() = { wakeFd, POLLIN, 0 };
    }

    ~AlsaRawMidiPort() override
    {
        ::close (wakeFd);

        // Closing waits until the device has taken what is left, up to the kernel's 10 s when it has
        // gone: never on the caller's time. What a stopped or failed transfer left is dropped first.
        std::thread (
            [port = output]
            {
                snd_rawmidi_drop (port);
                snd_rawmidi_close (port);
            })
            .detach();
    }

    PortResult sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        if (numBytes <= 0)
            return PortResult::failed;

        return sendRawMidiMessage (*this, bytes, static_cast<std::size_t> (numBytes), bufferSize);
    }

    PortResult confirmDelivery() override
    {
        // The last message was drained by its send: an empty ring. The USB MIDI driver may still have
        // up to seven packets in flight that the device has not taken (about 2.7 KB of MIDI at high
        // speed); its drain returns early once none is left, which proves that the device took every
        // byte. Other drivers' drains show nothing of the kind, so for them this proves no more than an
        // empty ring and a drain: a UART may still hold its FIFO (16 bytes on a 16550), and a driver
        // with buffers of its own whatever they hold.
        // Not covered: a device that refuses packets (a halted endpoint, or a cable that corrupts
        // them). The USB MIDI driver completes each refused transfer at once, drops its data and
        // tells no program; the raw MIDI port, /proc/asound and sysfs show nothing of it to a user.
        if (showsTransfersInFlight)
            if (const auto taken = waitUntilNothingInFlight (*this, AlsaRawMidiPorts::stallMilliseconds);
                taken != PortResult::ok)
                return taken;

        // The device must still be there a while later.
        return portResultOf (watchFor (AlsaRawMidiPorts::confirmationMilliseconds));
    }

private:
    long write (const std::uint8_t* bytes, std::size_t size) override
    {
        return static_cast<long> (snd_rawmidi_write (output, bytes, size));
    }

    int drain() override
    {
        // The ring is empty first; the kernel's drain then only waits briefly for transfers already
        // handed to the driver.
        if (const int result = waitUntilEmpty (AlsaRawMidiPorts::stallMilliseconds); result < 0)
            return result;

        return snd_rawmidi_drain (output);
    }

    long drainDriver() override
    {
        if (juce::Thread::currentThreadShouldExit())
            return -ECANCELED;

        const auto start = Clock::now();

        if (const int result = snd_rawmidi_drain (output); result < 0)
            return result;

        return millisecondsSince (start);
    }

    /** Waits until the ring is empty. Fails with -EIO when the device takes no byte for limitMs, and
        ends early when the device goes away or the waiting thread is asked to exit. */
    int waitUntilEmpty (int limitMs)
    {
        const auto watch = watchExitRequests();
        auto lastProgress = Clock::now();
        std::size_t lastAvail = 0;
        bool lastByte = false;

        for (;;)
        {
            // Poll reports room from one byte short of empty (the wake-up level must lie below the
            // buffer's size): that last byte is waited for in steps of a millisecond.
            const long left = limitMs - millisecondsSince (lastProgress);
            const long avail =
                lastByte ? pollOnce (watch, Watch::wakeOnly, 1)
                         : pollOnce (watch, Watch::room, juce::jlimit (0L, pollSliceMilliseconds, left));

            if (avail < 0)
                return static_cast<int> (avail);

            if (static_cast<std::size_t> (avail) >= bufferSize)
                return 0;

            if (static_cast<std::size_t> (avail) > lastAvail)
                lastProgress = Clock::now();
            else if (millisecondsSince (lastProgress) >= limitMs)
                return -EIO;

            lastAvail = static_cast<std::size_t> (avail);
            lastByte = lastAvail + 1 >= bufferSize;
        }
    }

    /** Watches the port for this long: 0 when it is still there at the end, a negative errno when it
        went away or the waiting thread was asked to exit. */
    int watchFor (int milliseconds)
    {
        const auto watch = watchExitRequests();
        const auto start = Clock::now();

        for (;;)
        {
            const long left = milliseconds - millisecondsSince (start);
            const long avail =
                pollOnce (watch, Watch::hangUp, juce::jlimit (0L, pollSliceMilliseconds, left));

            if (avail < 0)
                return static_cast<int> (avail);

            if (left <= 0)
                return 0;
        }
    }

    ExitRequestWatch watchExitRequests()
    {
        return ExitRequestWatch (
            [fd = wakeFd]
            {
                const std::uint64_t one = 1;
                [[maybe_unused]] const auto r = ::write (fd, &one, sizeof (one));
            });
    }

    /** What a poll step waits for besides the wake channel. */
    enum class Watch
    {
        room,    // room in the ring, or a hang-up
        hangUp,  // a hang-up only
        wakeOnly // nothing on the port: a plain pause
    };

    /** The one poll step of both waits: at most timeoutMs, then the port's status. Returns the bytes
        free in the ring, or a negative errno: -ECANCELED on an exit request, -ENODEV when the device
        went away. */
    long pollOnce (const ExitRequestWatch& watch, Watch what, long timeoutMs)
    {
        if (watch.exitRequested())
            return -ECANCELED;

        for (std::size_t i = 0; i + 1 < fds.size(); ++i)
            fds[i].events = what == Watch::room ? POLLOUT : 0;

        for (auto& fd : fds)
            fd.revents = 0;

        auto* const first = what == Watch::wakeOnly ? &fds.back() : fds.data();
        const auto numFds = what == Watch::wakeOnly ? std::size_t { 1 } : fds.size();

        if (::poll (first, numFds, static_cast<int> (timeoutMs)) < 0 && errno != EINTR)
            return -errno;

        for (std::size_t i = 0; i + 1 < fds.size(); ++i)
            if ((fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
                return -ENODEV;

        if ((fds.back().revents & POLLIN) != 0)
        {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto r = ::read (wakeFd, &count, sizeof (count));
        }

        if (watch.exitRequested())
            return -ECANCELED;

        // After an unplug every call on the port fails with -ENODEV.
        snd_rawmidi_status_t* status = nullptr;
        snd_rawmidi_status_alloca (&status);

        if (const int result = snd_rawmidi_status (output, status); result < 0)
            return result;

        return static_cast<long> (snd_rawmidi_status_get_avail (status));
    }

    snd_rawmidi_t* const output;
    const std::size_t bufferSize;
    const int wakeFd;
    const bool showsTransfersInFlight;
    std::vector<pollfd> fds; // the port's descriptors, then the wake channel

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlsaRawMidiPort)
};

/** Opens a port in non-blocking mode, so that neither the open nor a write ever waits. A port that is
    busy is tried again for a moment: the last handle of it may still be closing. */
MidiPortList::Opened openPort (const std::string& address, bool usbMidi)
{
    snd_rawmidi_t* output = nullptr;
    int result = -EBUSY;

    for (int attempt = 0; attempt < 10 && result == -EBUSY; ++attempt)
    {
        if (attempt > 0)
            std::this_thread::sleep_for (std::chrono::milliseconds (10));

        result = snd_rawmidi_open (nullptr, &output, address.c_str(), SND_RAWMIDI_NONBLOCK);
    }

    if (result == -EBUSY)
        return { nullptr, MidiPortList::OpenProblem::inUse };

    if (result == -ENOENT || result == -ENODEV || result == -ENXIO)
        return { nullptr, MidiPortList::OpenProblem::notPresent };

    if (result == -EACCES || result == -EPERM)
        return { nullptr, MidiPortList::OpenProblem::notAllowed };

    if (result < 0)
        return { nullptr, MidiPortList::OpenProblem::failed, snd_strerror (result) };

    // Poll reports room only when the ring is all but empty; and the port sends nothing of its own
    // when it closes.
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca (&params);
    snd_rawmidi_params_current (output, params);
    const auto bufferSize = snd_rawmidi_params_get_buffer_size (params);
    snd_rawmidi_params_set_avail_min (output, params, bufferSize - 1);
    snd_rawmidi_params_set_no_active_sensing (output, params, 1);
    const int wakeFd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);

    if (bufferSize < 2 || snd_rawmidi_params (output, params) < 0 || wakeFd < 0)
    {
        if (wakeFd >= 0)
            ::close (wakeFd);

        snd_rawmidi_close (output);
        return { nullptr, MidiPortList::OpenProblem::failed, "the port's settings were refused" };
    }

    return { std::make_unique<AlsaRawMidiPort> (output, bufferSize, wakeFd, usbMidi) };
}

struct ControlHandle
{
    explicit ControlHandle (int card)
    {
        if (snd_ctl_open (&ctl, ("hw:" + std::to_string (card)).c_str(), 0) < 0)
            ctl = nullptr;
    }

    ~ControlHandle()
    {
        if (ctl != nullptr)
            snd_ctl_close (ctl);
    }

    snd_ctl_t* ctl = nullptr;
};
} // namespace

AlsaRawMidiPorts::AlsaRawMidiPorts()
{
    snd_lib_error_set_handler (alsaLibraryError);
}

AlsaRawMidiPorts::Listing AlsaRawMidiPorts::listOutputs()
{
    Listing found;

    snd_ctl_card_info_t* cardInfo = nullptr;
    snd_ctl_card_info_alloca (&cardInfo);
    snd_rawmidi_info_t* info = nullptr;
    snd_rawmidi_info_alloca (&info);

    for (int card = -1; snd_card_next (&card) == 0 && card >= 0;)
    {
        const ControlHandle control (card);

        // A card that does not answer (one coming or going) may hold the device picked.
        if (control.ctl == nullptr || snd_ctl_card_info (control.ctl, cardInfo) < 0)
        {
            found.complete = false;
            continue;
        }

        // The device's place, which stays when it comes back under another card number and differs
        // between two devices of the same kind.
        auto device = soundCardIdentity ("/sys", card, snd_ctl_card_info_get_longname (cardInfo));
        const bool usbMidi = std::string (snd_ctl_card_info_get_driver (cardInfo)) == "USB-Audio";

        // A USB card whose place sysfs does not show yet (it is still being set up) is not identified
        // at this moment: its sysfs path alone would not be the identity it had when it was listed.
        if (usbMidi && device.rfind ("usb ", 0) != 0 && device.find (" at usb-") == std::string::npos)
            device.clear();

        for (int number = -1; snd_ctl_rawmidi_next_device (control.ctl, &number) == 0 && number >= 0;)
        {
            snd_rawmidi_info_set_device (info, static_cast<unsigned int> (number));
            snd_rawmidi_info_set_subdevice (info, 0);
            snd_rawmidi_info_set_stream (info, SND_RAWMIDI_STREAM_OUTPUT);

            // A device with no output stream answers -ENOENT; any other failure leaves it unknown.
            if (const int result = snd_ctl_rawmidi_info (control.ctl, info); result < 0)
            {
                found.complete = found.complete && result == -ENOENT;
                continue;
            }

            const auto count = snd_rawmidi_info_get_subdevices_count (info);

            for (unsigned int sub = 0; sub < count; ++sub)
            {
                snd_rawmidi_info_set_subdevice (info, sub);

                if (snd_ctl_rawmidi_info (control.ctl, info) < 0)
                {
                    found.complete = false;
                    continue;
                }

                found.outputs.push_back (
                    { { rawMidiAddress (card, number, static_cast<int> (sub)),
                        rawMidiPortBaseName (snd_rawmidi_info_get_name (info),
                                             snd_rawmidi_info_get_subdevice_name (info), count),
                        device },
                      usbMidi });
            }
        }
    }

    return found;
}

PortScan AlsaRawMidiPorts::scanOf (const Listing& listing)
{
    PortScan scan;
    scan.complete = listing.complete;

    for (const auto& output : listing.outputs)
        scan.ports.push_back (output.port);

    return scan;
}

juce::StringArray AlsaRawMidiPorts::getOutputNames()
{
    outputs = listOutputs().outputs;
    juce::StringArray names;

    for (const auto& output : outputs)
        names.add (juce::String (output.port.name + " (" + output.port.address + ")"));

    return names;
}

PickedPort AlsaRawMidiPorts::describePort (int index)
{
    // A device plugged in again can come back under another card number, or under the same one (the
    // kernel gives a new card the lowest free number, and an old card's number is free again once it
    // has been taken off the list, even while a handle of it is still open), and another device can
    // take the old number: the port is found again by its device, never by its address.
    std::vector<ListedPort> ports;

    for (const auto& output : outputs)
        ports.push_back (output.port);

    return describePick (ports, index);
}

FoundPort AlsaRawMidiPorts::findDevice (const PickedPort& picked)
{
    return findPickedPort (picked, scanOf (listOutputs()));
}

MidiPortList::Opened AlsaRawMidiPorts::openOutput (int index)
{
    const auto present = listOutputs();
    const auto found = findPickedPort (describePort (index), scanOf (present));

    if (found.presence != Presence::present)
        return { nullptr, OpenProblem::notPresent };

    const auto& output = present.outputs[static_cast<std::size_t> (found.index)];
    return openPort (output.port.address, output.usbMidi);
}

MidiPortList& MidiPortList::getPlatformPorts()
{
    static AlsaRawMidiPorts ports;
    return ports;
}
