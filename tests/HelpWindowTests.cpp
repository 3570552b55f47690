#include "screens/HelpText.h"
#include "screens/LumoHelpWindowClass.h"
#include "support/MessageLoop.h"
#include "support/ScreenProbe.h"

#include <gtest/gtest.h>

using testing_support::pumpUntilQuiet;

TEST (HelpText, IsTheRecoveryProcedureExactly)
{
    const juce::String text (helpText);
    EXPECT_EQ (text.length(), 999);
    EXPECT_TRUE (juce::CharPointer_ASCII::isValidString (helpText, 1000));

    juce::StringArray lines;
    lines.addTokens (text, "\n", {});
    EXPECT_EQ (text.retainCharacters ("\n").length(), 19);
    EXPECT_TRUE (text.endsWith (".\n"));

    EXPECT_EQ (lines[0], "Firmware Recovery Procedure. ");
    EXPECT_EQ (lines[2], "");
    EXPECT_EQ (lines[4], " 1. Unplug all cables from the device. ");
    EXPECT_EQ (lines[14],
               "    Note: it will take several seconds to complete the update *after* the progress bar ");
    EXPECT_EQ (lines[15], "          reaches 100%.  Please wait for the device to reboot on its own. ");
    EXPECT_EQ (lines[17], "Trouble Shooting:");
    EXPECT_EQ (lines[18], " - Please quit any MIDI related application on your PC or Mac.");
    EXPECT_EQ (lines[19], "");
}

namespace
{
struct HelpWindowFixture : public ::testing::Test
{
    HelpWindowFixture() { window.centreWithSize (550, 400); }

    juce::TextEditor& editor() { return *testing_support::find<juce::TextEditor> (window); }

    LumoHelpWindowClass window;
};
} // namespace

using HelpWindow = HelpWindowFixture;

TEST_F (HelpWindow, IsBuiltHiddenOnTheDesktopWithItsTitleAndText)
{
    EXPECT_FALSE (window.isVisible());
    EXPECT_TRUE (window.isOnDesktop());
    EXPECT_EQ (window.getName(), CANTORA_HELP_TITLE);
    EXPECT_EQ (window.getBackgroundColour(), juce::Colour (0xFFEFF2F3));
    EXPECT_TRUE (window.isResizable());
    EXPECT_NE (window.getCloseButton(), nullptr);
    EXPECT_NE (window.getMinimiseButton(), nullptr);
    EXPECT_NE (window.getMaximiseButton(), nullptr);

    auto& text = editor();
    EXPECT_EQ (text.getText(), juce::String (helpText));
    EXPECT_TRUE (text.isMultiLine());
    EXPECT_TRUE (text.isReadOnly());

    // The editor fills the content area.
    EXPECT_EQ (text.getBounds(), window.getContentComponent()->getLocalBounds());
}

TEST_F (HelpWindow, CloseButtonHidesTheSameWindowWithItsTextWhereItWas)
{
    window.setVisible (true);
    pumpUntilQuiet();
    auto* editorBefore = &editor();
    editorBefore->setCaretPosition (800);

    testing_support::requestClose (window);
    pumpUntilQuiet();
    EXPECT_FALSE (window.isVisible());

    window.setVisible (true);
    pumpUntilQuiet();
    EXPECT_EQ (&editor(), editorBefore);
    EXPECT_EQ (editor().getCaretPosition(), 800);
    EXPECT_EQ (editor().getText(), juce::String (helpText));
}

TEST_F (HelpWindow, TextCannotBeChangedByTypingPastingOrDeleting)
{
    window.setVisible (true);
    pumpUntilQuiet();
    auto& text = editor();
    text.grabKeyboardFocus();
    text.setCaretPosition (10);

    text.keyPressed (juce::KeyPress ('x', juce::ModifierKeys(), 'x'));
    text.keyPressed (juce::KeyPress (juce::KeyPress::backspaceKey));
    text.keyPressed (juce::KeyPress (juce::KeyPress::deleteKey));

    juce::SystemClipboard::copyTextToClipboard ("pasted");
    text.keyPressed (juce::KeyPress ('v', juce::ModifierKeys::commandModifier, 0));
    text.pasteFromClipboard();
    text.keyPressed (juce::KeyPress ('x', juce::ModifierKeys::commandModifier, 0));
    text.cutToClipboard();
    pumpUntilQuiet();

    EXPECT_EQ (text.getText(), juce::String (helpText));
}
