#include "WinMidiPorts.h"
#include "midi/ExitRequestWatch.h"
#include "midi/PortIdentity.h"
#include "WinMidiSender.h"

#include <windows.h>
#include <mmsystem.h>

#include "WinDeviceInterfaceQuery.h"

#include <thread>

namespace
{
juce::String deviceName (UINT id)
{
    MIDIOUTCAPSW caps {};

    if (midiOutGetDevCapsW (id, &caps, sizeof (caps)) != MMSYSERR_NOERROR)
        return {};

    // At most the field's 32 characters: a driver may fill it without a terminator.
    std::size_t length = 0;

    while (length < MAXPNAMELEN && caps.szPname[length] != 0)
        ++length;

    return juce::String (
        juce::CharPointer_UTF16 (reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (caps.szPname)),
        length);
}

/** The Plug and Play interface path that the driver gives for a device number, or for an open handle;
    empty when it gives none. Windows compares these paths without regard to case, and so does the
    program: they are kept in upper case. */
std::string deviceInterfacePath (HMIDIOUT device)
{
    // The size goes into 8 zeroed bytes: a driver that writes more than the 4 of a ULONG writes into
    // the program's own variable, and a size that does not fit 32 bits is no answer.
    std::uint64_t bytes = 0;

    // A path is at most 32,767 characters: a larger size is no answer.
    if (midiOutMessage (device, DRV_QUERYDEVICEINTERFACESIZE, reinterpret_cast<DWORD_PTR> (&bytes), 0) !=
            MMSYSERR_NOERROR ||
        bytes < sizeof (WCHAR) || bytes > 32768 * sizeof (WCHAR))
        return {};

    // Room for every byte the driver may write (an odd size included), and one character more, which
    // the program ends the path with after the query, whatever the driver wrote.
    std::vector<WCHAR> path (static_cast<std::size_t> ((bytes + 1) / sizeof (WCHAR)) + 1, 0);

    if (midiOutMessage (device, DRV_QUERYDEVICEINTERFACE, reinterpret_cast<DWORD_PTR> (path.data()),
                        static_cast<DWORD_PTR> (bytes)) != MMSYSERR_NOERROR)
        return {};

    path.back() = 0;
    return juce::String (juce::CharPointer_UTF16 (
                             reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (path.data())))
        .toUpperCase()
        .toStdString();
}

std::string deviceInterfacePath (UINT id)
{
    // A device number stands for a handle in these two queries.
    return deviceInterfacePath (reinterpret_cast<HMIDIOUT> (static_cast<UINT_PTR> (id)));
}

/** The outputs present, in the order of their device numbers. A number whose device answers nothing
    (gone since Windows counted it, or a driver that failed this once) is left out, and the list is
    then not complete. */
PortScan presentPorts()
{
    PortScan scan;

    for (UINT id = 0, count = midiOutGetNumDevs(); id < count; ++id)
    {
        if (const auto name = deviceName (id); name.isNotEmpty())
            scan.ports.push_back ({ std::to_string (id), name.toStdString(), deviceInterfacePath (id) });
        else
            scan.complete = false;
    }

    return scan;
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

/** A driver that has stopped may keep the caller waiting in the reset or the close: never the message
    thread. What the driver would not give back is left to it rather than freed. */
void closeOnItsOwnThread (std::unique_ptr<OpenOutput> output)
{
    std::thread (
        [closing = std::move (output)]() mutable
        {
            if (! closing->close())
                closing.release();
        })
        .detach();
}

class WinMidiPort : public MidiOutputPort, private LongMessageOutput
{
public:
    /** What was picked tells its device among those present. */
    WinMidiPort (std::unique_ptr<OpenOutput> outputToUse, PickedPort pickedToUse)
        : output (std::move (outputToUse))
        , picked (std::move (pickedToUse))
    {
    }

    ~WinMidiPort() override { closeOnItsOwnThread (std::move (output)); }

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

    // Thread crossing: called on the sending thread. It reads only the port's own copy of what was
    // picked, never the port list's, which the message thread replaces with each new list. A device
    // that cannot be told apart at this moment is not proven there.
    bool isPresent() override
    {
        return findPickedPort (picked, presentPorts()).presence == Presence::present;
    }

    std::unique_ptr<OpenOutput> output;
    const PickedPort picked;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WinMidiPort)
};

/** The path of the device behind an open handle: asked of the handle itself, or, where a driver does
    not take the query on a handle, of the number the handle was opened with (which still tells a
    device that took that number before the open). */
std::string openedDevicePath (HMIDIOUT handle)
{
    if (auto path = deviceInterfacePath (handle); ! path.empty())
        return path;

    UINT id = 0;
    return midiOutGetID (handle, &id) == MMSYSERR_NOERROR ? deviceInterfacePath (id) : std::string();
}

/** Whether the device behind an open handle is the one picked: by its path where it was picked by
    its path, otherwise by its name (a number may have moved between the listing and the open). */
bool isPickedDevice (HMIDIOUT handle, const PickedPort& picked)
{
    if (picked.identified)
        return openedDevicePath (handle) == picked.port.device;

    return deviceName (static_cast<UINT> (reinterpret_cast<UINT_PTR> (handle))).toStdString() ==
           picked.port.name;
}

/** Opens a device for output. One that is busy is tried again for a moment: the last handle of it may
    still be closing on its own thread. */
MidiPortList::Opened openDevice (UINT id, const PickedPort& picked)
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
            {
                // Anything else in the system's own words, for the line under the bar.
                WCHAR text[MAXERRORLENGTH] {};

                if (midiOutGetErrorTextW (result, text, MAXERRORLENGTH) != MMSYSERR_NOERROR)
                    text[0] = 0;

                return { nullptr, MidiPortList::OpenProblem::failed, juce::String (text) };
            }
        }
    }

    // Another device may have taken the number between the listing and the open: the handle must be
    // the device's before anything is sent to it.
    if (! isPickedDevice (output->handle, picked))
    {
        closeOnItsOwnThread (std::move (output));
        return { nullptr, MidiPortList::OpenProblem::notPresent };
    }

    return { std::make_unique<WinMidiPort> (std::move (output), picked) };
}
} // namespace

juce::StringArray WinMidiPorts::getOutputNames()
{
    listed = presentPorts().ports;
    juce::StringArray names;

    for (const auto& port : listed)
        names.add (juce::String (port.name));

    return names;
}

PickedPort WinMidiPorts::describePort (int index)
{
    // Device numbers move when a device comes or goes: the device picked is found wherever it is now,
    // and never another of the same name that has taken its number.
    return describePick (listed, index);
}

FoundPort WinMidiPorts::findDevice (const PickedPort& picked)
{
    return findPickedPort (picked, presentPorts());
}

MidiPortList::Opened WinMidiPorts::openOutput (int index)
{
    const auto picked = describePort (index);
    const auto present = presentPorts();
    const auto found = findPickedPort (picked, present);

    if (found.presence != Presence::present)
        return { nullptr, OpenProblem::notPresent };

    const auto id = std::stoul (present.ports[static_cast<std::size_t> (found.index)].address);
    return openDevice (static_cast<UINT> (id), picked);
}

MidiPortList& MidiPortList::getPlatformPorts()
{
    static WinMidiPorts ports;
    return ports;
}
