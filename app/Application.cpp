#include "Application.h"

void Application::initialise (const juce::String& commandLine)
{
    mainWindow = std::make_unique<MainWindow> (commandLine, ports);
    mainWindow->centreWithSize (650, 400);
    mainWindow->setVisible (true);
    mainWindow->setResizeLimits (650, 400, 650, 400);
}

void Application::shutdown()
{
    mainWindow = nullptr;
}
