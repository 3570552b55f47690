#include "Guidance.h"

juce::String guidanceText (ProtocolBaseClass::Outcome outcome, RestartWatch::State restart,
                           MidiPortList::OpenProblem openProblem, const juce::String& openErrorText)
{
    using Outcome = ProtocolBaseClass::Outcome;
    using Problem = MidiPortList::OpenProblem;

    if (outcome == Outcome::uploading)
        return "Do not unplug the device or close this window until the update has completed.";

    switch (openProblem)
    {
        case Problem::inUse:
            return portInUseGuidance;
        case Problem::notAllowed:
#if JUCE_LINUX
            return "You may not use this port: join the system's audio group (or ask for access to its "
                   "device file), log in again and pick it again.";
#else
            return "You may not use this port: ask the computer's administrator for access, then pick it "
                   "again.";
#endif
        case Problem::notPresent:
            return "The device is no longer there: connect it, then pick it again from the list.";
        case Problem::failed:
            return "The port did not open (" +
                   (openErrorText.isNotEmpty() ? openErrorText : "no reason given") +
                   "): reconnect the device and pick it again.";
        case Problem::none:
            break;
    }

    switch (outcome)
    {
        case Outcome::completed:
            switch (restart)
            {
                case RestartWatch::State::restarted:
                    // Coming back shows that it restarted, not that it took the firmware.
                    return "The device left and came back: it has restarted. If it starts up and works, you "
                           "can unplug it; if it does not, follow the recovery procedure under Help.";
                case RestartWatch::State::didNotLeave:
                    return "The device has not restarted within two minutes: if it shows no sign of life, "
                           "follow the recovery procedure under Help.";
                case RestartWatch::State::didNotReturn:
                    return "The device has not come back within two minutes: reconnect it, and if it does "
                           "not start, follow the recovery procedure under Help.";
                case RestartWatch::State::off:
                case RestartWatch::State::waitingToLeave:
                case RestartWatch::State::away:
                    break;
            }

            return "The device now installs the firmware and restarts on its own: wait until it has "
                   "restarted before you unplug it.";
        case Outcome::deviceStopped:
            return "The device stopped taking data and may hold part or all of the firmware: follow the "
                   "recovery procedure under Help, then pick the device again and press update.";
        case Outcome::portFailed:
            return "The device was disconnected and may hold part or all of the firmware: check the cable, "
                   "reconnect the device, pick it again and press update.";
        case Outcome::imageDamaged:
            return "This copy of the updater carries a damaged firmware image: get the updater again "
                   "before you update the device.";
        case Outcome::none:
        case Outcome::uploading:
            break;
    }

    return {};
}
