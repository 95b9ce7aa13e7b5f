#include "app/Application.h"

#include "ui/MainComponent.h"

VelmorHL73UpdaterApplication::~VelmorHL73UpdaterApplication()
{
    mainWindow = nullptr;
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
    mainWindow = std::make_unique<MainWindow> (getApplicationName() + " Version " + getApplicationVersion());
}

void VelmorHL73UpdaterApplication::shutdown()
{
    mainWindow = nullptr;
}

void VelmorHL73UpdaterApplication::anotherInstanceStarted (const juce::String&)
{
}

void VelmorHL73UpdaterApplication::systemRequestedQuit()
{
    if (mainWindow != nullptr)
        if (auto* screen = dynamic_cast<MainComponent*> (mainWindow->getContentComponent()))
            if (screen->isBusy())
                return;

    quit();
}

VelmorHL73UpdaterApplication::MainWindow::MainWindow (const juce::String& title)
    : DocumentWindow (title,
                      juce::Desktop::getInstance().getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
                      DocumentWindow::allButtons)
{
    setUsingNativeTitleBar (true);
    setContentOwned (new MainComponent(), true);
    centreWithSize (getWidth(), getHeight());
    setVisible (true);
}

void VelmorHL73UpdaterApplication::MainWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
