#include "app/Application.h"

#include "ui/MainComponent.h"

#include <iostream>

VelmorHL73UpdaterApplication::~VelmorHL73UpdaterApplication()
{
    mainWindow = nullptr;
    quitSignals = nullptr;
}

const juce::String VelmorHL73UpdaterApplication::getApplicationName()
{
    return "VelmorHL73Updater";
}

const juce::String VelmorHL73UpdaterApplication::getApplicationVersion()
{
    return HL73_VERSION;
}

bool VelmorHL73UpdaterApplication::moreThanOneInstanceAllowed()
{
    return false;
}

void VelmorHL73UpdaterApplication::initialise (const juce::String&)
{
    // Without a display JUCE has nowhere to put the window and would crash placing it.
    if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
    {
        std::cerr << getApplicationName() << ": no display to show the window on (is DISPLAY set?)" << std::endl;
        setApplicationReturnValue (1);
        quit();
        return;
    }

    // Ctrl+C, kill, the end of the session or of the terminal that started us: from here on these
    // pass the quit guard too, instead of ending the process wherever it stands.
    quitSignals = std::make_unique<QuitSignals> ([this]
                                                 { quitRequestedBySignal(); });

    mainWindow = std::make_unique<MainWindow> (getApplicationName() + " Version " + getApplicationVersion());
}

void VelmorHL73UpdaterApplication::shutdown()
{
    // Deleting the window stops the updater's thread, which can take a while (a stalled download
    // gives up only at its time limit): the window leaves the screen first, rather than sit there
    // frozen. Signals stay with the guard until the thread has stopped.
    if (mainWindow != nullptr)
        mainWindow->removeFromDesktop();

    mainWindow = nullptr;
    quitSignals = nullptr;
}

void VelmorHL73UpdaterApplication::anotherInstanceStarted (const juce::String&)
{
}

void VelmorHL73UpdaterApplication::systemRequestedQuit()
{
    quitUnlessBusy (false);
}

void VelmorHL73UpdaterApplication::quitRequestedBySignal()
{
    quitUnlessBusy (true);
}

// The updater answers in one atomic step, so a run cannot enter its busy phase between our
// question and the quit: an accepted quit keeps the keyboard from being touched at all.
void VelmorHL73UpdaterApplication::quitUnlessBusy (bool deferWhileBusy)
{
    if (mainWindow != nullptr)
        if (auto* screen = dynamic_cast<MainComponent*> (mainWindow->getContentComponent()))
            if (screen->requestQuit (deferWhileBusy) != FirmwareUpdater::QuitAnswer::accepted)
                return;

    quit();
}

VelmorHL73UpdaterApplication::MainWindow::MainWindow (const juce::String& title)
    : DocumentWindow (title,
                      juce::Desktop::getInstance().getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
                      DocumentWindow::allButtons,
                      false)
{
    setUsingNativeTitleBar (true);
    setContentOwned (new MainComponent(), true);
    centreWithSize (getWidth(), getHeight());

    // Put on the desktop only now that it has its size and place: created earlier at no size, the
    // native window could take a late size event from the window manager and stay at JUCE's
    // minimum of 128 x 128.
    addToDesktop();
    setVisible (true);
}

void VelmorHL73UpdaterApplication::MainWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
