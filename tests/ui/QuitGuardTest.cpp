#include "ScreenTestSupport.h"
#include "app/Application.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

namespace
{
/** The application object with its window, as the program has it after start-up. Each test runs
    in its own process (a posted quit cannot be taken back), on its own Xvfb display.
*/
struct RunningApplication
{
    RunningApplication() { app.initialise ({}); }
    ~RunningApplication() { app.shutdown(); }

    MainComponent& screen()
    {
        auto* window = dynamic_cast<juce::DocumentWindow*> (juce::TopLevelWindow::getTopLevelWindow (0));
        return *dynamic_cast<MainComponent*> (window->getContentComponent());
    }

    static bool quitPosted() { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }

    VelmorHL73UpdaterApplication app;
};

const juce::String failure = "Error 1: device not found.\nMake sure your VELMOR HL73 is connected to this computer.";
const juce::String success = "Your VELMOR HL73 has been updated.";
} // namespace

TEST (QuitGuard, WindowHasTheTitleAndHoldsTheScreen)
{
    RunningApplication running;
    auto* window = dynamic_cast<juce::DocumentWindow*> (juce::TopLevelWindow::getTopLevelWindow (0));
    ASSERT_NE (window, nullptr);
    EXPECT_EQ (window->getName(), "VelmorHL73Updater Version 1.1.0");
    EXPECT_TRUE (window->isUsingNativeTitleBar());
    EXPECT_FALSE (window->isResizable());
    EXPECT_EQ (window->getContentComponent()->getBounds().getWidth(), 600);
    EXPECT_EQ (window->getContentComponent()->getBounds().getHeight(), 400);
}

TEST (QuitGuard, RefusedWhileBusyAndAcceptedOnceTheRunHasEnded)
{
    Gate busyPhase;
    ScriptedUpdater::script ([&] (ScriptedUpdater::Run& run)
                             {
                                 run.setBusy (true);
                                 run.progress ("Preparing the device...", -1.0);
                                 busyPhase.waitIn (run);
                                 run.finish (false, "Error 6: the update did not complete.\nDo not disconnect the device, and retry."); });
    RunningApplication running;
    ScreenChildren ui (running.screen());

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return running.screen().isBusy(); }));

    running.app.systemRequestedQuit();
    pumpFor (50);
    EXPECT_FALSE (RunningApplication::quitPosted());
    EXPECT_EQ (ui.label->getText(), "Preparing the device...");

    busyPhase.open();
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.button->isEnabled(); }));
    running.app.systemRequestedQuit();
    EXPECT_TRUE (RunningApplication::quitPosted());
}

TEST (QuitGuard, AcceptedWhileARunIsNotBusy)
{
    // Searching, downloading and the last wait for the port are not busy: a quit goes through,
    // and tearing the window down stops the run's thread.
    Gate never;
    ScriptedUpdater::script ([&] (ScriptedUpdater::Run& run)
                             {
                                 run.progress ("Downloading the firmware...", 0.5);
                                 never.waitIn (run); });
    auto running = std::make_unique<RunningApplication>();
    ScreenChildren ui (running->screen());

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.label->getText() == "Downloading the firmware..."; }));

    running->app.systemRequestedQuit();
    EXPECT_TRUE (RunningApplication::quitPosted());

    const auto start = juce::Time::getMillisecondCounter();
    running = nullptr;
    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 5000u) << "the run's thread was not stopped";
}

TEST (QuitGuard, AcceptedWhenReady)
{
    RunningApplication running;
    running.app.systemRequestedQuit();
    EXPECT_TRUE (RunningApplication::quitPosted());
}

TEST (QuitGuard, AcceptedAfterAFailure)
{
    ScriptedUpdater::script ([] (ScriptedUpdater::Run& run)
                             { run.finish (false, failure); });
    RunningApplication running;
    ScreenChildren ui (running.screen());

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.button->isEnabled(); }));
    ASSERT_EQ (ui.button->getButtonText(), "RETRY");
    running.app.systemRequestedQuit();
    EXPECT_TRUE (RunningApplication::quitPosted());
}

TEST (QuitGuard, CloseAfterSuccessEndsTheProgram)
{
    ScriptedUpdater::script ([] (ScriptedUpdater::Run& run)
                             { run.finish (true, success); });
    RunningApplication running;
    ScreenChildren ui (running.screen());

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.button->getButtonText() == "CLOSE" && ui.button->isEnabled(); }));
    EXPECT_FALSE (RunningApplication::quitPosted());

    ui.button->triggerClick();
    pumpFor (50);
    EXPECT_TRUE (RunningApplication::quitPosted());
}
