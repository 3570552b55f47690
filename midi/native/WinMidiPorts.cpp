#include "WinMidiPorts.h"
#include "midi/ExitRequestWatch.h"
#include "midi/PortIdentity.h"
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

    PortResult sendMessage (const juce::uint8* bytes, int numBytes) override
    {
        if (numBytes <= 0)
            return PortResult::failed;

        const ExitRequestWatch watch ([event = output->wakeEvent] { SetEvent (event); });
        return sendLongMidiMessage (*this, bytes, static_cast<std::size_t> (numBytes));
    }

    PortResult confirmDelivery() override
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

/** Opens a device for output. One that is busy is tried again for a moment: the last handle of it may
    still be closing on its own thread. */
MidiPortList::Opened openDevice (UINT id, const juce::String& name)
{
    auto output = std::make_unique<OpenOutput>();
    output->driverEvent = CreateEventW (nullptr, FALSE, FALSE, nullptr);
    output->wakeEvent = CreateEventW (nullptr, FALSE, FALSE, nullptr);

    if (output->driverEvent == nullptr || output->wakeEvent == nullptr)
        return { nullptr, MidiPortList::OpenProblem::failed };

    MMRESULT result = MMSYSERR_ALLOCATED;

    for (int attempt = 0; attempt < 20 && result == MMSYSERR_ALLOCATED; ++attempt)
    {
        if (attempt > 0)
            Sleep (25);

        result = midiOutOpen (&output->handle, id, reinterpret_cast<DWORD_PTR> (output->driverEvent), 0,
                              CALLBACK_EVENT);
    }

    if (result != MMSYSERR_NOERROR)
    {
        output->handle = nullptr;

        switch (result)
        {
            case MMSYSERR_ALLOCATED:
                return { nullptr, MidiPortList::OpenProblem::inUse };
            case MMSYSERR_BADDEVICEID:
            case MMSYSERR_NODRIVER:
                return { nullptr, MidiPortList::OpenProblem::notPresent };
            default:
                return { nullptr, MidiPortList::OpenProblem::failed };
        }
    }

    return { std::make_unique<WinMidiPort> (std::move (output), name) };
}

std::vector<ListedPort> listedPorts (const juce::StringArray& names)
{
    std::vector<ListedPort> ports;

    for (int i = 0; i < names.size(); ++i)
        ports.push_back ({ std::to_string (i), names[i].toStdString(), {} });

    return ports;
}
} // namespace

juce::StringArray WinMidiPorts::getOutputNames()
{
    names.clear();

    for (UINT id = 0, count = midiOutGetNumDevs(); id < count; ++id)
        names.add (deviceName (id));

    return names;
}

MidiPortList::Opened WinMidiPorts::openOutput (int index)
{
    if (! juce::isPositiveAndBelow (index, names.size()))
        return { nullptr, OpenProblem::notPresent };

    // Device numbers move when a device comes or goes, and Windows names devices alone: the number
    // listed, if it still carries the name, otherwise the one device of that name now present.
    juce::StringArray present;

    for (UINT id = 0, count = midiOutGetNumDevs(); id < count; ++id)
        present.add (deviceName (id));

    const int found =
        findPickedPort (listedPorts (names), static_cast<std::size_t> (index), listedPorts (present));

    if (found < 0)
        return { nullptr, OpenProblem::notPresent };

    return openDevice (static_cast<UINT> (found), names[index]);
}

MidiPortList& MidiPortList::getPlatformPorts()
{
    static WinMidiPorts ports;
    return ports;
}
