#include "AlsaRawMidiPorts.h"
#include "RawMidiSender.h"

#include <alsa/asoundlib.h>

namespace
{
// The largest write: the default output buffer of a raw MIDI port.
constexpr std::size_t bytesPerWrite = 4096;

class AlsaRawMidiStream : public RawMidiStream
{
public:
    explicit AlsaRawMidiStream (snd_rawmidi_t* outputToUse)
        : output (outputToUse)
    {
    }

    ~AlsaRawMidiStream() override { snd_rawmidi_close (output); }

    long write (const std::uint8_t* bytes, std::size_t size) override
    {
        return static_cast<long> (snd_rawmidi_write (output, bytes, size));
    }

    int drain() override { return snd_rawmidi_drain (output); }

private:
    snd_rawmidi_t* output;
};

class AlsaRawMidiPort : public MidiOutputPort
{
public:
    explicit AlsaRawMidiPort (snd_rawmidi_t* output)
        : stream (output)
    {
    }

    bool sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        return numBytes > 0 &&
               sendRawMidiMessage (stream, bytes, static_cast<std::size_t> (numBytes), bytesPerWrite);
    }

private:
    AlsaRawMidiStream stream;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlsaRawMidiPort)
};

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

juce::StringArray AlsaRawMidiPorts::getOutputNames()
{
    juce::StringArray names;
    addresses.clear();

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

                names.add (rawMidiPortName (snd_rawmidi_info_get_name (info),
                                            snd_rawmidi_info_get_subdevice_name (info), count, card, device,
                                            static_cast<int> (sub)));
                addresses.push_back ("hw:" + std::to_string (card) + "," + std::to_string (device) + "," +
                                     std::to_string (sub));
            }
        }
    }

    return names;
}

std::unique_ptr<MidiOutputPort> AlsaRawMidiPorts::openOutput (int index)
{
    if (! juce::isPositiveAndBelow (index, static_cast<int> (addresses.size())))
        return nullptr;

    snd_rawmidi_t* output = nullptr;

    // Blocking mode: a write returns once the port has taken bytes, and a drain once the device has.
    if (snd_rawmidi_open (nullptr, &output, addresses[static_cast<size_t> (index)].c_str(), 0) < 0)
        return nullptr;

    return std::make_unique<AlsaRawMidiPort> (output);
}
