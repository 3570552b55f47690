#include "WinMidiPorts.h"
#include "ExitRequestWatch.h"
#include "WinMidiSender.h"

#include <windows.h>
#include <mmsystem.h>

#include <thread>

namespace
{
juce::String deviceName (UINT id)
{
    MIDIOUTCAPSW caps {};

    if (midiOutGetDevCapsW (id, &caps, sizeof (caps)) != MMSYSERR_NOERROR)
        return {};

    return juce::String (caps.szPname);
}

/** What an open output owns: its handle, its one header with the bytes it points at, the event the
    driver signals and the wake event. It outlives the port while its closing thread runs. */
struct OpenOutput
{
    HMIDIOUT handle = nullptr;
    HANDLE driverEvent = nullptr, wakeEvent = nullptr;
    MIDIHDR header {};
    std::vector<char> bytes;
    bool prepared = false;

    ~OpenOutput()
    {
        if (handle != nullptr)
        {
            // The driver gives every header back on a reset; only then can it be released.
            midiOutReset (handle);

            for (int attempt = 0; prepared && attempt < 100; ++attempt)
                if (midiOutUnprepareHeader (handle, &header, sizeof (header)) == MIDIERR_STILLPLAYING)
                    Sleep (10);
                else
                    prepared = false;

            midiOutClose (handle);
        }

        for (auto* event : { driverEvent, wakeEvent })
            if (event != nullptr)
                CloseHandle (event);
    }
};

class WinMidiPort : public MidiOutputPort, private LongMessageOutput
{
public:
    explicit WinMidiPort (std::unique_ptr<OpenOutput> outputToUse, juce::String nameToUse)
        : output (std::move (outputToUse))
        , name (std::move (nameToUse))
    {
    }

    ~WinMidiPort() override
    {
        // A driver that has stopped may keep the caller waiting in the reset or the close: never the
        // message thread.
        std::thread ([closing = std::move (output)]() mutable { closing = nullptr; }).detach();
    }

    bool sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        const ExitRequestWatch exitWatch ([event = output->wakeEvent] { SetEvent (event); });
        watch = &exitWatch;
        const bool sent =
            numBytes > 0 && sendLongMidiMessage (*this, bytes, static_cast<std::size_t> (numBytes));
        watch = nullptr;
        return sent;
    }

    bool confirmDelivery() override
    {
        const ExitRequestWatch exitWatch ([event = output->wakeEvent] { SetEvent (event); });
        watch = &exitWatch;
        const bool confirmed = confirmLongMidiDelivery (*this, WinMidiPorts::confirmationMilliseconds);
        watch = nullptr;
        return confirmed;
    }

private:
    unsigned int prepare (const std::uint8_t* bytes, std::size_t size) override
    {
        // A header that a driver never gave back is not used again: the port has failed.
        if (output->prepared)
            return MIDIERR_STILLPLAYING;

        output->bytes.assign (bytes, bytes + size);
        output->header = {};
        output->header.lpData = output->bytes.data();
        output->header.dwBufferLength = static_cast<DWORD> (size);
        const auto result = midiOutPrepareHeader (output->handle, &output->header, sizeof (MIDIHDR));
        output->prepared = result == MMSYSERR_NOERROR;
        return result;
    }

    unsigned int send() override
    {
        return midiOutLongMsg (output->handle, &output->header, sizeof (MIDIHDR));
    }

    bool isDone() override { return (output->header.dwFlags & MHDR_DONE) != 0; }

    Wait wait (int milliseconds) override
    {
        if (watch != nullptr && watch->exitRequested())
            return Wait::exitRequested;

        const HANDLE events[] = { output->driverEvent, output->wakeEvent };
        const auto result = WaitForMultipleObjects (2, events, FALSE, static_cast<DWORD> (milliseconds));

        if (watch != nullptr && watch->exitRequested())
            return Wait::exitRequested;

        return result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1 ? Wait::signalled : Wait::timedOut;
    }

    unsigned int unprepare() override
    {
        const auto result = midiOutUnprepareHeader (output->handle, &output->header, sizeof (MIDIHDR));
        output->prepared = output->prepared && result != MMSYSERR_NOERROR;
        return result;
    }

    void reset() override { midiOutReset (output->handle); }

    bool isPresent() override
    {
        for (UINT id = 0, count = midiOutGetNumDevs(); id < count; ++id)
            if (deviceName (id) == name)
                return true;

        return false;
    }

    std::unique_ptr<OpenOutput> output;
    const juce::String name;
    const ExitRequestWatch* watch = nullptr; // the running send's, on the sending thread

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WinMidiPort)
};

std::unique_ptr<MidiOutputPort> openDevice (UINT id, const juce::String& name)
{
    auto output = std::make_unique<OpenOutput>();
    output->driverEvent = CreateEventW (nullptr, FALSE, FALSE, nullptr);
    output->wakeEvent = CreateEventW (nullptr, FALSE, FALSE, nullptr);

    if (output->driverEvent == nullptr || output->wakeEvent == nullptr ||
        midiOutOpen (&output->handle, id, reinterpret_cast<DWORD_PTR> (output->driverEvent), 0,
                     CALLBACK_EVENT) != MMSYSERR_NOERROR)
    {
        output->handle = nullptr;
        return nullptr;
    }

    return std::make_unique<WinMidiPort> (std::move (output), name);
}
} // namespace

juce::StringArray WinMidiPorts::getOutputNames()
{
    names.clear();

    for (UINT id = 0, count = midiOutGetNumDevs(); id < count; ++id)
        names.add (deviceName (id));

    return names;
}

std::unique_ptr<MidiOutputPort> WinMidiPorts::openOutput (int index)
{
    if (! juce::isPositiveAndBelow (index, names.size()))
        return nullptr;

    // Device numbers move when a device comes or goes: the number listed, if it still names the same
    // device, otherwise the first device of that name now present.
    const auto& wanted = names[index];

    if (deviceName (static_cast<UINT> (index)) == wanted)
        return openDevice (static_cast<UINT> (index), wanted);

    for (UINT id = 0, count = midiOutGetNumDevs(); id < count; ++id)
        if (deviceName (id) == wanted)
            return openDevice (id, wanted);

    return nullptr;
}
