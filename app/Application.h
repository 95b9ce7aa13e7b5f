#pragma once

#include "app/QuitSignals.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The application object: one main window, one instance at a time, and the quit guard that
    keeps every request to end the program from cutting a change of the keyboard short.
*/
class VelmorHL73UpdaterApplication : public juce::JUCEApplication
{
public:
    /** Creates the application; the window comes with initialise. */
    VelmorHL73UpdaterApplication() = default;

    /** Deletes the main window if it still exists. */
    ~VelmorHL73UpdaterApplication() override;

    /** "VelmorHL73Updater". */
    const juce::String getApplicationName() override;

    /** "1.1.0". */
    const juce::String getApplicationVersion() override;

    /** False: a second start hands over to the running instance and exits. */
    bool moreThanOneInstanceAllowed() override;

    /** Creates and shows the main window; the command line is ignored. */
    void initialise (const juce::String& commandLine) override;

    /** Takes the window off the screen at once, then deletes it, which stops the updater with it. */
    void shutdown() override;

    /** Ignored: the running window neither raises nor reacts. */
    void anotherInstanceStarted (const juce::String& commandLine) override;

    /** The quit guard: drops the request while the updater is busy, else quits. */
    void systemRequestedQuit() override;

    /** The quit guard for a request the system sends by signal (interrupt, terminate, hang-up),
        which is not repeated like a click: while the updater is busy it is held and carried out
        as soon as the keyboard has been left alone; otherwise the program quits at once.
    */
    void quitRequestedBySignal();

    /** The program's only window, holding the main screen at its own size. */
    class MainWindow : public juce::DocumentWindow
    {
    public:
        /** Creates the window with the given title, centred and visible. */
        explicit MainWindow (const juce::String& title);

        /** Hands the request to the application's quit guard. */
        void closeButtonPressed() override;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

private:
    void quitUnlessBusy (bool deferWhileBusy);

    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<QuitSignals> quitSignals;
};
