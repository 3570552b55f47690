#pragma once

#include "InterfaceBaseClass.h"
#include "MidiPortList.h"
#include "RestartWatch.h"

/** The MIDI output port chooser: a caption over a combo box listing the output ports found when it was
    built, with "(Disconnected)" first. It owns the port picked, sends messages through it, and
    broadcasts a change after every change of port. A port that fails is closed and the chooser goes
    back to "(Disconnected)", as if the user had picked it; so does a pick that does not open, so that
    picking the same entry again tries again (a device found gone has the list taken anew). */
class MidiInterfaceClass : public InterfaceBaseClass,
                           private juce::ComboBox::Listener,
                           private juce::AsyncUpdater
{
public:
    /** Lists the ports of portsToUse; the program passes none and gets the platform's ports. */
    explicit MidiInterfaceClass (MidiPortList& portsToUse = MidiPortList::getPlatformPorts());
    ~MidiInterfaceClass() override;

    int read (juce::uint8* dest, unsigned int maxBytes) override;
    int write (const juce::uint8* bytes, int numBytes) override;
    bool confirmDelivery() override;
    bool stoppedTakingData() override;
    bool isConnected() override;
    int getPreferredHeight() override;

    /** Why the last port picked did not open; none once one opens or "(Disconnected)" is picked. */
    MidiPortList::OpenProblem getOpenProblem() const noexcept { return openProblem; }

    /** The position in the port list of the port open now; -1 when none is. */
    int getOpenPortIndex();

    /** What was picked for the port open now, to find its device again later; not valid when no port
        is open. */
    PickedPort getOpenDevice();

    /** Follows the device's restart after an update: once it has left, its dead port is closed (when
        it is still the one open) and the chooser goes back to "(Disconnected)" as if the user had
        picked it; once it is back, while no port is open, the ports are listed anew (it may have
        another address now), so that picking it opens it anew. */
    void followRestart (const RestartWatch& watch);

    /** Before another transfer: when the last one delivered everything through the port open now,
        the device has restarted or is about to, which can leave that port dead even where nothing
        saw the device go. The port is then closed and the device picked opened anew, as picking its
        entry again would. A port picked since that transfer is left as it is. */
    void reopenPortAfterUpdate();

    /** For an open that failed for another reason: the system's own words, if it gave any. */
    const juce::String& getOpenErrorText() const noexcept { return openErrorText; }

    void resized() override;

private:
    void comboBoxChanged (juce::ComboBox* changedBox) override;
    void handleAsyncUpdate() override;

    /** Opens the port of the entry with this ID, closing the one open first. */
    void openPortOf (int id);

    /** Takes the list of the ports present. */
    void takePortList();

    /** Fills the selector with the list taken: "(Disconnected)", a separator, the ports. */
    void fillSelector();

    /** Called with portLock held after a call on the port: a failure that is not an abandoned wait
        marks the port failed and asks the message thread to close it. */
    bool checkPort (PortResult result);

    MidiPortList& ports;
    int numOutputs = 0;
    juce::StringArray outputNames;

    // Thread crossing: midiOutput is replaced only on the message thread (a pick, a return to
    // "(Disconnected)", a reopen) and used by
    // the transfer thread in write() and confirmDelivery(). Both hold portLock while they do, so a
    // change of port waits for the send in flight and no send ever uses a port that has been closed.
    // portState is set by the transfer thread under portLock when the port fails (stalled or failed),
    // set back to ok by the message thread under portLock when the port is replaced, and read without
    // the lock by isConnected(). stalled is set by the transfer thread under portLock when a port
    // fails, to whether it stalled; it is set back only when a port is opened (message thread, under
    // portLock, never during a transfer), and read without the lock by stoppedTakingData() on the
    // transfer thread. Unlike portState, it outlives the return to "(Disconnected)", which the
    // message thread may make before the transfer thread asks what failed.
    juce::CriticalSection portLock;
    std::unique_ptr<MidiOutputPort> midiOutput;
    std::atomic<PortResult> portState { PortResult::ok };
    std::atomic<bool> stalled { false };
    // Thread crossing: set by the transfer thread in confirmDelivery() once the port has delivered a
    // whole image, set back by the message thread whenever a port is opened; both under portLock.
    bool deliveredUpdate = false;
    MidiPortList::OpenProblem openProblem = MidiPortList::OpenProblem::none; // message thread only
    PickedPort openDevice;      // what was picked for the port open now; message thread only
    juce::String openErrorText; // message thread only

    std::unique_ptr<juce::ComboBox> outputSelector;
    std::unique_ptr<juce::Label> outputLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MidiInterfaceClass)
};
