// Draws the update screen in each state a user meets, on in-memory ports, into one picture strip for
// the README: idle, a transfer, completed, restarted, stalled, unplugged, in use, not allowed.
//
//   screen_states OUT.png

#include "screens/ContentComp.h"
#include "support/BareXServer.h"
#include "support/InMemoryMidiPorts.h"
#include "support/MessageLoop.h"
#include "support/ScreenProbe.h"

#include <cstdio>
#include <functional>

namespace
{
using namespace testing_support;

/** One screen on its own ports, driven through its own components as a user drives it. */
struct Scene
{
    Scene()
    {
        screen.setSize (642, 366);
        screen.setVisible (true);
        screen.getRestartWatch().limitMilliseconds = 60000;
        pumpUntilQuiet();
    }

    ~Scene() { ports.device (0).release(); }

    void pick (int id)
    {
        find<juce::ComboBox> (screen)->setSelectedId (id);
        pumpUntilQuiet();
    }

    void update()
    {
        button (screen, "update")->triggerClick();
        pumpUntilQuiet();
    }

    bool ends()
    {
        return pumpUntil ([this] { return ! screen.protocol->isThreadRunning(); }, 30000) &&
               (pumpUntilQuiet(), true);
    }

    /** The screen on the window's background, with the state's name above it. */
    juce::Image draw (const juce::String& name)
    {
        // The bar moves to its value in steps of its own: let it get there.
        pumpUntil ([] { return false; }, 800);

        juce::Image picture (juce::Image::RGB, 642, 390, true);
        juce::Graphics g (picture);
        g.fillAll (juce::Colour (0xFFEFF2F3));
        g.setColour (juce::Colours::darkslategrey);
        g.fillRect (0, 0, 642, 24);
        g.setColour (juce::Colours::white);
        g.setFont (15.0f);
        g.drawText (name, 8, 0, 626, 24, juce::Justification::centredLeft);
        g.drawImageAt (screen.createComponentSnapshot (screen.getLocalBounds()), 0, 24);
        return picture;
    }

    InMemoryMidiPorts ports { juce::StringArray ({ "Cantora 2", "Other port" }) };
    ContentComp screen { nullptr, {}, ports };
};
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: screen_states OUT.png\n");
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    tolerateBareXServer();
    juce::Array<juce::Image> pictures;

    {
        Scene s;
        pictures.add (s.draw ("Idle"));
    }
    {
        Scene s;
        s.pick (1);
        s.ports.device (0).holdBeforeMessage (1000);
        s.update();
        pumpUntil ([&] { return s.ports.device (0).isHolding(); });
        pumpUntilQuiet();
        pictures.add (s.draw ("A transfer"));
        s.ports.device (0).release();
        s.ends();
        pictures.add (s.draw ("Completed"));
        s.ports.device (0).present = false;
        pumpUntil ([&] { return s.screen.getRestartWatch().getState() == RestartWatch::State::away; });
        s.ports.device (0).present = true;
        pumpUntil ([&] { return s.screen.getRestartWatch().getState() == RestartWatch::State::restarted; });
        pumpUntilQuiet();
        pictures.add (s.draw ("Restarted"));
    }
    // A transfer that fails, and a pick that does not open, each set up on the device first.
    const auto failedTransfer =
        [&] (const char* name, const std::function<void (InMemoryMidiPorts::Device&)>& fault)
    {
        Scene s;
        s.pick (1);
        fault (s.ports.device (0));
        s.update();
        s.ends();
        pictures.add (s.draw (name));
    };
    const auto refusedPick =
        [&] (const char* name, const std::function<void (InMemoryMidiPorts::Device&)>& fault)
    {
        Scene s;
        fault (s.ports.device (0));
        s.pick (1);
        pictures.add (s.draw (name));
    };

    failedTransfer ("Stalled", [] (auto& d) { d.stopsTakingDataAfter = 1500; });
    failedTransfer ("Unplugged", [] (auto& d) { d.goesAwayAfter = 1000; });
    refusedPick ("In use", [] (auto& d) { d.inUse = true; });
    refusedPick ("Not allowed", [] (auto& d) { d.notAllowed = true; });

    // Two columns, four rows, in the order above.
    const int w = 642, h = 390, gap = 10;
    juce::Image strip (juce::Image::RGB, 2 * w + gap, 4 * h + 3 * gap, true);
    juce::Graphics g (strip);
    g.fillAll (juce::Colours::white);

    for (int i = 0; i < pictures.size(); ++i)
        g.drawImageAt (pictures[i], (i % 2) * (w + gap), (i / 2) * (h + gap));

    const juce::File out (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    out.deleteFile();
    juce::FileOutputStream stream (out);

    if (! stream.openedOk() || ! juce::PNGImageFormat().writeImageToStream (strip, stream))
    {
        std::fprintf (stderr, "could not write %s\n", argv[1]);
        return 1;
    }

    std::printf ("Wrote %s\n", argv[1]);
    return 0;
}
