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
        for (auto* event : { driverEvent, wakeEvent })
            if (event != nullptr)
                CloseHandle (event);
    }

    /** Takes the header back and closes the device; false when the driver kept the header, which
        then must not be freed (it is the driver's as long as it is queued). */
    bool close()
    {
        if (handle == nullptr)
            return true;

        // The driver gives every header back on a reset; only then can it be released.
        midiOutReset (handle);

        for (int attempt = 0; prepared && attempt < 100; ++attempt)
            if (midiOutUnprepareHeader (handle, &header, sizeof (header)) == MIDIERR_STILLPLAYING)
                Sleep (10);
            else
                prepared = false;

        return ! prepared && midiOutClose (handle) == MMSYSERR_NOERROR;
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
        // message thread. What the driver would not give back is left to it rather than freed.
        std::thread (
            [closing = std::move (output)]() mutable
            {
                if (! closing->close())
                    closing.release();
            })
            .detach();
    }

    bool sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        const ExitRequestWatch watch ([event = output->wakeEvent] { SetEvent (event); });
        return numBytes > 0 && sendLongMidiMessage (*this, bytes, static_cast<std::size_t> (numBytes));
    }

    bool confirmDelivery() override
    {
        const ExitRequestWatch watch ([event = output->wakeEvent] { SetEvent (event); });
        return confirmLongMidiDelivery (*this, WinMidiPorts::confirmationMilliseconds);
    }

private:
    unsigned int prepare (const std::uint8_t* bytes, std::size_t size) override
    {
        // A header that the driver still holds from a send that was given up is not used again while
        // it does: the send fails, and with it the port.
        if (output->prepared && unprepare() != MMSYSERR_NOERROR)
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

    // Thread crossing: the driver sets the flag on a thread of its own and then signals the event;
    // this thread reads it after each wait, through a volatile read so that it is read each time.
    bool isDone() override
    {
        return (*static_cast<volatile DWORD*> (&output->header.dwFlags) & MHDR_DONE) != 0;
    }

    Wait wait (int milliseconds) override
    {
        if (juce::Thread::currentThreadShouldExit())
            return Wait::exitRequested;

        const HANDLE events[] = { output->driverEvent, output->wakeEvent };
        const auto result = WaitForMultipleObjects (2, events, FALSE, static_cast<DWORD> (milliseconds));

        if (juce::Thread::currentThreadShouldExit())
            return Wait::exitRequested;

        return result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1 ? Wait::signalled : Wait::timedOut;
    }

    unsigned int unprepare() override
    {
        const auto result = midiOutUnprepareHeader (output->handle, &output->header, sizeof (MIDIHDR));
        output->prepared = output->prepared && result != MMSYSERR_NOERROR;
        return result;
    }

    bool isPresent() override
    {
        for (UINT id = 0, count = midiOutGetNumDevs(); id < count; ++id)
            if (deviceName (id) == name)
                return true;

        return false;
    }

    std::unique_ptr<OpenOutput> output;
    const juce::String name;

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
