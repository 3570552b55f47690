// The process entry: the framework's application main, run with the program's application object.
#include "Application.h"

START_JUCE_APPLICATION (Application)
