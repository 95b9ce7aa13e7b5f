#include "ScreenTestSupport.h"
#include "app/Application.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

#include <unistd.h>

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
                                 ASSERT_TRUE (run.enterBusyPhase());
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
    EXPECT_FALSE (RunningApplication::quitPosted()) << "a refused close was remembered";
    running.app.systemRequestedQuit();
    EXPECT_TRUE (RunningApplication::quitPosted());
}

TEST (QuitGuard, AnAcceptedQuitKeepsTheRunOutOfTheBusyPhase)
{
    // The run is about to start changing the keyboard when the quit comes: one of the two wins,
    // and here it is the quit, so the run must leave the keyboard alone.
    Gate beforeBusyPhase;
    std::atomic<int> entered { -1 };
    ScriptedUpdater::script ([&] (ScriptedUpdater::Run& run)
                             {
                                 run.progress ("Downloading the firmware...", 1.0);
                                 beforeBusyPhase.waitIn (run);
                                 entered = run.enterBusyPhase() ? 1 : 0; });
    auto running = std::make_unique<RunningApplication>();
    ScreenChildren ui (running->screen());

    ASSERT_TRUE (clickToStart (*ui.button));
    running->app.systemRequestedQuit();
    EXPECT_TRUE (RunningApplication::quitPosted());

    beforeBusyPhase.open();
    ASSERT_TRUE (pumpUntil ([&]
                            { return entered >= 0; }));
    EXPECT_EQ (entered, 0);
    EXPECT_FALSE (running->screen().isBusy());
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

namespace
{
struct SignalCase
{
    const char* name;
    int number;
};

const SignalCase quitSignals[] { { "SIGINT", SIGINT }, { "SIGTERM", SIGTERM }, { "SIGHUP", SIGHUP } };

std::string signalName (const ::testing::TestParamInfo<SignalCase>& info)
{
    return info.param.name;
}

void sendToThisProcess (int signalNumber)
{
    // To the process, not a thread: the kernel picks the thread, as it does for kill(1).
    ASSERT_EQ (::kill (::getpid(), signalNumber), 0);
}

class QuitSignal : public ::testing::TestWithParam<SignalCase>
{
};
} // namespace

TEST_P (QuitSignal, EndsTheProgramWhenNotBusy)
{
    RunningApplication running;
    sendToThisProcess (GetParam().number);
    EXPECT_TRUE (pumpUntil (RunningApplication::quitPosted));
}

TEST_P (QuitSignal, WaitsForTheBusyPhaseToEndThenQuits)
{
    Gate busyPhase;
    ScriptedUpdater::script ([&] (ScriptedUpdater::Run& run)
                             {
                                 ASSERT_TRUE (run.enterBusyPhase());
                                 run.progress ("Preparing the device...", -1.0);
                                 busyPhase.waitIn (run);
                                 // The drive has gone: as the engine does, a held quit ends the run here.
                                 if (run.leaveBusyPhase())
                                     return;
                                 run.progress ("not reached", -1.0); });
    RunningApplication running;
    ScreenChildren ui (running.screen());

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.label->getText() == "Preparing the device..."; }));

    sendToThisProcess (GetParam().number);
    pumpFor (200);
    EXPECT_FALSE (RunningApplication::quitPosted()) << "the signal cut the busy phase short";
    EXPECT_TRUE (running.screen().isBusy());

    busyPhase.open();
    EXPECT_TRUE (pumpUntil (RunningApplication::quitPosted)) << "the held quit was not carried out";
    pumpFor (50);
    EXPECT_EQ (ui.label->getText(), "Preparing the device...");
}

INSTANTIATE_TEST_SUITE_P (Signals, QuitSignal, ::testing::ValuesIn (quitSignals), signalName);

TEST (QuitGuard, SignalWhileBusyQuitsAfterAFailureEndsTheRun)
{
    Gate busyPhase;
    ScriptedUpdater::script ([&] (ScriptedUpdater::Run& run)
                             {
                                 ASSERT_TRUE (run.enterBusyPhase());
                                 busyPhase.waitIn (run);
                                 run.finish (false, "Error 5: the device did not respond.\nDisconnect and reconnect it, then retry."); });
    RunningApplication running;
    ScreenChildren ui (running.screen());

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return running.screen().isBusy(); }));
    sendToThisProcess (SIGTERM);
    pumpFor (200);
    EXPECT_FALSE (RunningApplication::quitPosted());

    // The window's close button is still refused while a signal's quit is held.
    running.app.systemRequestedQuit();
    EXPECT_FALSE (RunningApplication::quitPosted());

    busyPhase.open();
    EXPECT_TRUE (pumpUntil (RunningApplication::quitPosted));
}
