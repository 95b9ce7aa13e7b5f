#pragma once

#include "updater/FirmwareUpdater.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The program's one screen: the header picture, the link to the maker's site, the button that
    starts an update, the progress bar and the status line; it owns the updater and shows its reports.
*/
class MainComponent : public juce::Component
{
public:
    /** Builds the screen at 600 x 400 with the bar hidden and the instruction text shown. */
    MainComponent();

    /** Stops the updater (its member goes first) before any component is destroyed. */
    ~MainComponent() override;

    /** Fills the background. */
    void paint (juce::Graphics& g) override;

    /** Places the children from the current width. */
    void resized() override;

    /** True while the updater is changing the keyboard. */
    bool isBusy() const noexcept;

    /** The quit guard's question to the updater: may the program end now? While the keyboard is
        being changed the answer is no, or, with `deferWhileBusy`, "when that is over": the screen
        then asks the application to quit again as soon as it is.
    */
    FirmwareUpdater::QuitAnswer requestQuit (bool deferWhileBusy) noexcept;

    /** The value the progress bar shows: a fraction, or -1 for no measurable fraction. */
    double getProgress() const noexcept { return progress; }

    /** The text shown before the first run. */
    static constexpr const char* instructionText = "Make sure the device is connected then press Start button.";

private:
    FirmwareUpdater::ProgressCallback makeProgressCallback();
    FirmwareUpdater::FinishedCallback makeFinishedCallback();
    static FirmwareUpdater::DeferredQuitCallback makeDeferredQuitCallback();
    void startButtonClicked();
    void showProgress (const juce::String& text, double value);
    void showFinish (bool success, const juce::String& message);

    juce::ImageComponent headerImage;
    juce::HyperlinkButton websiteLink;
    juce::TextButton startButton { "START", {} };
    juce::Label statusLabel;
    double progress = 0.0;
    juce::ProgressBar progressBar { progress };

    bool updateSucceeded = false;
    FirmwareUpdater updater; // last, so it is destroyed first and its thread stops before the components go

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
