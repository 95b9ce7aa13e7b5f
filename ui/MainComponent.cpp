#include "ui/MainComponent.h"

#include "updater/MakerSite.h"

#include <BinaryData.h>

MainComponent::MainComponent()
    : updater (makeProgressCallback(), makeFinishedCallback(), makeDeferredQuitCallback())
{
    headerImage.setImage (juce::ImageFileFormat::loadFrom (BinaryData::HL73_Header_png, (size_t) BinaryData::HL73_Header_pngSize));
    addAndMakeVisible (headerImage);

    websiteLink.setButtonText (MakerSite::host);
    websiteLink.setURL (juce::URL (juce::String (MakerSite::scheme) + MakerSite::host));
    addAndMakeVisible (websiteLink);

    startButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xff808080));
    startButton.onClick = [this]
    { startButtonClicked(); };
    addAndMakeVisible (startButton);

    progressBar.setPercentageDisplay (false);
    addChildComponent (progressBar);

    statusLabel.setText (instructionText, juce::dontSendNotification);
    statusLabel.setJustificationType (juce::Justification::centred);
    addAndMakeVisible (statusLabel);

    setSize (600, 400);
}

MainComponent::~MainComponent() = default;

// Both callbacks run on the updater's thread: they only post a copy of the report, with their
// own safe pointer, and return; the screen is changed on the message thread alone.
FirmwareUpdater::ProgressCallback MainComponent::makeProgressCallback()
{
    return [self = SafePointer<MainComponent> (this)] (const juce::String& text, double value)
    {
        juce::MessageManager::callAsync ([self, text, value]
                                         {
                                             if (auto* screen = self.getComponent())
                                                 screen->showProgress (text, value); });
    };
}

FirmwareUpdater::FinishedCallback MainComponent::makeFinishedCallback()
{
    return [self = SafePointer<MainComponent> (this)] (bool success, const juce::String& message)
    {
        juce::MessageManager::callAsync ([self, success, message]
                                         {
                                             if (auto* screen = self.getComponent())
                                                 screen->showFinish (success, message); });
    };
}

// The quit is accepted by now, so the application's guard lets this request through.
FirmwareUpdater::DeferredQuitCallback MainComponent::makeDeferredQuitCallback()
{
    return []
    {
        juce::MessageManager::callAsync ([]
                                         {
                                             if (auto* app = juce::JUCEApplication::getInstance())
                                                 app->systemRequestedQuit(); });
    };
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff202020));
}

void MainComponent::resized()
{
    const auto w = getWidth();

    headerImage.setBounds (10, 10, w - 20, 134);
    websiteLink.setBounds (10, headerImage.getBottom() + 12, 120, 20);
    startButton.setBounds (w / 2 - 100, 190, 200, 60);
    progressBar.setBounds (40, 270, w - 80, 16);
    statusLabel.setBounds (10, 296, w - 20, 90);
}

bool MainComponent::isBusy() const noexcept
{
    return updater.isBusy();
}

FirmwareUpdater::QuitAnswer MainComponent::requestQuit (bool deferWhileBusy) noexcept
{
    return updater.requestQuit (deferWhileBusy);
}

void MainComponent::startButtonClicked()
{
    if (updateSucceeded)
    {
        juce::JUCEApplication::getInstance()->systemRequestedQuit();
        return;
    }

    startButton.setEnabled (false);
    progressBar.setVisible (true);

    // The finish report is the run's last act, so a click that follows it finds the thread at
    // most a moment away from its end: wait for that end rather than silently starting nothing.
    if (updater.isThreadRunning())
        updater.waitForThreadToExit (2000);

    if (! updater.isThreadRunning())
        updater.startThread();
}

void MainComponent::showProgress (const juce::String& text, double value)
{
    statusLabel.setText (text, juce::dontSendNotification);
    progress = value;
}

void MainComponent::showFinish (bool success, const juce::String& message)
{
    updateSucceeded = success;
    statusLabel.setText (message, juce::dontSendNotification);
    progressBar.setVisible (false);
    startButton.setButtonText (success ? "CLOSE" : "RETRY");
    startButton.setEnabled (true);
}
