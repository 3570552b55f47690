#include "AlsaRawMidiPorts.h"
#include "ExitRequestWatch.h"
#include "RawMidiSender.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;

// However poll() reports, each wait looks at the port's status at least this often.
constexpr int pollSliceMilliseconds = 100;

/** One open raw MIDI output in non-blocking mode. Its waits use poll() on the port's descriptors and
    on a wake channel of its own, which an exit request of the waiting thread sets. */
class AlsaRawMidiPort : public MidiOutputPort, private RawMidiStream
{
public:
    AlsaRawMidiPort (snd_rawmidi_t* outputToUse, std::size_t bufferSizeToUse, int wakeFdToUse)
        : output (outputToUse)
        , bufferSize (bufferSizeToUse)
        , wakeFd (wakeFdToUse)
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

    bool sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        return numBytes > 0 &&
               sendRawMidiMessage (*this, bytes, static_cast<std::size_t> (numBytes), bufferSize);
    }

    // The last message was drained by its send: the device must still be there a while later.
    bool confirmDelivery() override
    {
        return waitUntil (false, AlsaRawMidiPorts::confirmationMilliseconds) == 0;
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
        if (const int result = waitUntil (true, AlsaRawMidiPorts::stallMilliseconds); result < 0)
            return result;

        return snd_rawmidi_drain (output);
    }

    /** Waits until the ring is empty (drained), or only for the time given, and ends early when the
        device goes away or the waiting thread is asked to exit. When draining, the time is the limit
        for the device to take no byte at all. */
    int waitUntil (bool drained, int milliseconds)
    {
        const ExitRequestWatch watch (
            [fd = wakeFd]
            {
                const std::uint64_t one = 1;
                [[maybe_unused]] const auto r = ::write (fd, &one, sizeof (one));
            });

        snd_rawmidi_status_t* status = nullptr;
        snd_rawmidi_status_alloca (&status);

        for (std::size_t i = 0; i + 1 < fds.size(); ++i)
            fds[i].events = drained ? POLLOUT : 0;

        auto deadline = Clock::now() + std::chrono::milliseconds (milliseconds);
        std::size_t lastAvail = 0;
        bool lastByte = false;

        for (;;)
        {
            if (watch.exitRequested())
                return -ECANCELED;

            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now()).count();

            for (auto& fd : fds)
                fd.revents = 0;

            // Poll reports room from one byte short of empty (the wake-up level must lie below the
            // buffer's size): that last byte is waited for in steps of a millisecond.
            auto* const first = lastByte ? &fds.back() : fds.data();
            const auto numFds = lastByte ? std::size_t { 1 } : fds.size();
            const auto timeout =
                lastByte ? 1 : static_cast<int> (juce::jlimit<long long> (0, pollSliceMilliseconds, left));

            if (::poll (first, numFds, timeout) < 0 && errno != EINTR)
                return -errno;

            for (std::size_t i = 0; i + 1 < fds.size(); ++i)
                if ((fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
                    return -ENODEV;

            if ((fds.back().revents & POLLIN) != 0)
            {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto r = ::read (wakeFd, &count, sizeof (count));
            }

            // After an unplug every call on the port fails with -ENODEV.
            if (const int result = snd_rawmidi_status (output, status); result < 0)
                return result;

            const auto avail = snd_rawmidi_status_get_avail (status);

            if (drained && avail >= bufferSize)
                return 0;

            if (drained && avail > lastAvail)
                deadline = Clock::now() + std::chrono::milliseconds (milliseconds);

            lastAvail = avail;
            lastByte = drained && avail + 1 >= bufferSize;

            if (Clock::now() >= deadline)
                return drained ? -EIO : 0;
        }
    }

    snd_rawmidi_t* const output;
    const std::size_t bufferSize;
    const int wakeFd;
    std::vector<pollfd> fds; // the port's descriptors, then the wake channel

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlsaRawMidiPort)
};

/** Opens a port in non-blocking mode, so that neither the open nor a write ever waits. A port that is
    busy is tried again for a moment: the last handle of it may still be closing. */
std::unique_ptr<MidiOutputPort> openPort (const std::string& address)
{
    snd_rawmidi_t* output = nullptr;
    int result = -EBUSY;

    for (int attempt = 0; attempt < 10 && result == -EBUSY; ++attempt)
    {
        if (attempt > 0)
            std::this_thread::sleep_for (std::chrono::milliseconds (10));

        result = snd_rawmidi_open (nullptr, &output, address.c_str(), SND_RAWMIDI_NONBLOCK);
    }

    if (result < 0)
        return nullptr;

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
        return nullptr;
    }

    return std::make_unique<AlsaRawMidiPort> (output, bufferSize, wakeFd);
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

std::vector<AlsaRawMidiPorts::Output> AlsaRawMidiPorts::listOutputs()
{
    std::vector<Output> found;

    snd_rawmidi_info_t* info = nullptr;
    snd_rawmidi_info_alloca (&info);

    for (int card = -1; snd_card_next (&card) == 0 && card >= 0;)
    {
        const ControlHandle control (card);

        if (control.ctl == nullptr)
            continue;

        for (int device = -1; snd_ctl_rawmidi_next_device (control.ctl, &device) == 0 && device >= 0;)
        {
            snd_rawmidi_info_set_device (info, static_cast<unsigned int> (device));
            snd_rawmidi_info_set_subdevice (info, 0);
            snd_rawmidi_info_set_stream (info, SND_RAWMIDI_STREAM_OUTPUT);

            if (snd_ctl_rawmidi_info (control.ctl, info) < 0)
                continue; // an input-only device

            const auto count = snd_rawmidi_info_get_subdevices_count (info);

            for (unsigned int sub = 0; sub < count; ++sub)
            {
                snd_rawmidi_info_set_subdevice (info, sub);

                if (snd_ctl_rawmidi_info (control.ctl, info) < 0)
                    continue;

                found.push_back ({ rawMidiAddress (card, device, static_cast<int> (sub)),
                                   rawMidiPortBaseName (snd_rawmidi_info_get_name (info),
                                                        snd_rawmidi_info_get_subdevice_name (info), count) });
            }
        }
    }

    return found;
}

juce::StringArray AlsaRawMidiPorts::getOutputNames()
{
    outputs = listOutputs();
    juce::StringArray names;

    for (const auto& output : outputs)
        names.add (juce::String (output.baseName + " (" + output.address + ")"));

    return names;
}

std::unique_ptr<MidiOutputPort> AlsaRawMidiPorts::openOutput (int index)
{
    if (! juce::isPositiveAndBelow (index, static_cast<int> (outputs.size())))
        return nullptr;

    // The address listed, if it still names the same device; otherwise the first port of that name now
    // present (a device plugged in again can come back under another card number, the old one staying
    // taken until its last handle has closed, and another device can take the old number).
    const auto wanted = outputs[static_cast<std::size_t> (index)];
    auto present = listOutputs();
    std::stable_partition (present.begin(), present.end(),
                           [&] (const Output& o) { return o.address == wanted.address; });

    for (const auto& output : present)
        if (output.baseName == wanted.baseName)
            if (auto port = openPort (output.address))
                return port;

    return nullptr;
}
