#include "Application.h"
#include "DisplayCheck.h"

void Application::initialise (const juce::String& commandLine)
{
    // Where the framework's first window would crash, the program does not start (exit code 0).
    if (! displayAdaptersCanBeListed())
    {
        quit();
        return;
    }

    mainWindow = std::make_unique<MainWindow> (commandLine, ports);
    eventQueueWatch = std::make_unique<XEventQueueWatch>();
    mainWindow->centreWithSize (MainWindow::width, MainWindow::height);
    mainWindow->setVisible (true);
    mainWindow->setResizeLimits (MainWindow::width, MainWindow::height, MainWindow::width,
                                 MainWindow::height);
}

void Application::shutdown()
{
    eventQueueWatch = nullptr;
    mainWindow = nullptr;
}
