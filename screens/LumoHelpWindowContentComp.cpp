#include "LumoHelpWindowContentComp.h"
#include "HelpText.h"

LumoHelpWindowContentComp::LumoHelpWindowContentComp()
{
    textEditor = std::make_unique<juce::TextEditor> (juce::String(), 0);
    addAndMakeVisible (textEditor.get());
    textEditor->setMultiLine (true, true);
    textEditor->setReadOnly (true);
    textEditor->setText (helpText, false);
}

LumoHelpWindowContentComp::~LumoHelpWindowContentComp()
{
    textEditor = nullptr;
}

void LumoHelpWindowContentComp::resized()
{
    textEditor->setBounds (0, 0, getWidth(), getHeight());
}
