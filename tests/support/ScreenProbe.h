#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Finds the parts of a component tree the way a user sees them: by kind, name or text. */
namespace testing_support
{
template <typename ComponentType>
ComponentType* find (juce::Component& parent, const std::function<bool (ComponentType&)>& matches = nullptr)
{
    for (auto* child : parent.getChildren())
    {
        if (auto* c = dynamic_cast<ComponentType*> (child))
            if (matches == nullptr || matches (*c))
                return c;

        if (auto* inner = find<ComponentType> (*child, matches))
            return inner;
    }

    return nullptr;
}

inline juce::TextButton* button (juce::Component& parent, const juce::String& name)
{
    return find<juce::TextButton> (parent, [&] (juce::TextButton& b) { return b.getName() == name; });
}

inline juce::Label* label (juce::Component& parent, const juce::String& textStart)
{
    return find<juce::Label> (parent, [&] (juce::Label& l) { return l.getText().startsWith (textStart); });
}

/** What assistive technology reads of the progress bar ("42%"). */
inline juce::String barText (juce::Component& parent)
{
    auto* bar = find<juce::ProgressBar> (parent);
    return bar->getAccessibilityHandler()->getValueInterface()->getCurrentValueAsString();
}

/** The value the progress bar shows, as assistive technology reads it, as a fraction. */
inline double barValue (juce::Component& parent)
{
    return barText (parent).upToFirstOccurrenceOf ("%", false, false).getDoubleValue() / 100.0;
}

/** What a click on a window's close button, or the system's close request, calls. A click itself is
    not posted here: the framework disables the title-bar buttons while their window is not the active
    one, and the windows of other tests on the same display take the focus at any moment. The real
    click on the program's own close button is tested on an X server of its own. */
inline void requestClose (juce::DocumentWindow& window)
{
    juce::MessageManager::callAsync (
        [w = juce::Component::SafePointer<juce::DocumentWindow> (&window)]
        {
            if (w != nullptr)
                w->closeButtonPressed();
        });
}

inline juce::DocumentWindow* topLevelWindow (const juce::String& name)
{
    for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
        if (auto* w = dynamic_cast<juce::DocumentWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
            if (w->getName() == name)
                return w;

    return nullptr;
}
} // namespace testing_support
