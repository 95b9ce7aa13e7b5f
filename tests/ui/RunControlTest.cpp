#include "ScreenTestSupport.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

namespace
{
const juce::String looking = "Looking for the device...";
const juce::String error1 = "Error 1: device not found.\nMake sure your VELMOR HL73 is connected to this computer.";
const juce::String error2 = "Error 2: unable to download the firmware.\nCheck your internet connection and retry.";
const juce::String success = "Your VELMOR HL73 has been updated.";
} // namespace

TEST (RunControl, FirstClickRunsAndAFailureOffersRetry)
{
    Gate beforeFirstReport, beforeFinish;
    ScriptedUpdater::script ([&] (ScriptedUpdater::Run& run)
                             {
                                 beforeFirstReport.waitIn (run);
                                 run.progress (looking, -1.0);
                                 beforeFinish.waitIn (run);
                                 run.finish (false, error1); });
    MainComponent screen;
    ScreenChildren ui (screen);

    ASSERT_TRUE (clickToStart (*ui.button));
    EXPECT_FALSE (ui.button->isEnabled());
    EXPECT_EQ (ui.button->getButtonText(), "START");
    EXPECT_TRUE (ui.bar->isVisible());
    EXPECT_EQ (ui.label->getText(), MainComponent::instructionText);

    beforeFirstReport.open();
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.label->getText() == looking; }));
    EXPECT_EQ (screen.getProgress(), -1.0);
    EXPECT_FALSE (ui.button->isEnabled());

    beforeFinish.open();
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.button->isEnabled(); }));
    EXPECT_EQ (ui.button->getButtonText(), "RETRY");
    EXPECT_EQ (ui.label->getText(), error1);
    EXPECT_FALSE (ui.bar->isVisible());
    EXPECT_EQ (ScriptedUpdater::runsStarted(), 1);
}

TEST (RunControl, RetryKeepsTheOldTextAndValueUntilTheNewRunReports)
{
    Gate secondRunGate;
    ScriptedUpdater::script ([&] (ScriptedUpdater::Run& run)
                             {
                                 if (ScriptedUpdater::runsStarted() == 2)
                                 {
                                     secondRunGate.waitIn (run);
                                     run.progress (looking, -1.0);
                                     return;
                                 }
                                 run.progress ("Downloading the firmware...", 0.25);
                                 run.finish (false, error2); });
    MainComponent screen;
    ScreenChildren ui (screen);

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.button->isEnabled(); }));
    ASSERT_EQ (ui.button->getButtonText(), "RETRY");

    ASSERT_TRUE (clickToStart (*ui.button));
    EXPECT_FALSE (ui.button->isEnabled());
    EXPECT_EQ (ui.button->getButtonText(), "RETRY");
    EXPECT_TRUE (ui.bar->isVisible());
    EXPECT_EQ (ui.label->getText(), error2);
    EXPECT_EQ (screen.getProgress(), 0.25);

    secondRunGate.open();
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.label->getText() == looking; }));
    EXPECT_EQ (screen.getProgress(), -1.0);
    EXPECT_EQ (ScriptedUpdater::runsStarted(), 2);
}

TEST (RunControl, AClickRightAfterTheFinishReportStartsANewRun)
{
    // The finish report is posted while the run's thread is still winding down; a click handled
    // in that moment must still start the next run instead of leaving the button dead.
    ScriptedUpdater::script ([] (ScriptedUpdater::Run& run)
                             {
                                 run.finish (false, error1);
                                 juce::Thread::sleep (300); });
    MainComponent screen;
    ScreenChildren ui (screen);

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.button->isEnabled(); }));
    ASSERT_EQ (ScriptedUpdater::runsStarted(), 1);

    ASSERT_TRUE (clickToStart (*ui.button));
    EXPECT_TRUE (pumpUntil ([]
                            { return ScriptedUpdater::runsStarted() == 2; }));
    EXPECT_TRUE (pumpUntil ([&]
                            { return ui.button->isEnabled(); }));
}

TEST (RunControl, SuccessOffersClose)
{
    ScriptedUpdater::script ([] (ScriptedUpdater::Run& run)
                             {
                                 run.progress ("Restarting the device...", -1.0);
                                 run.finish (true, success); });
    MainComponent screen;
    ScreenChildren ui (screen);

    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            { return ui.button->isEnabled(); }));
    EXPECT_EQ (ui.button->getButtonText(), "CLOSE");
    EXPECT_EQ (ui.label->getText(), success);
    EXPECT_FALSE (ui.bar->isVisible());
}

TEST (RunControl, QuickReportsAreAllAppliedInOrder)
{
    constexpr int count = 500;
    ScriptedUpdater::script ([] (ScriptedUpdater::Run& run)
                             {
                                 for (int i = 1; i <= count; ++i)
                                     run.progress ("step " + juce::String (i), i / (double) count);
                                 run.finish (false, error2); });
    MainComponent screen;
    ScreenChildren ui (screen);

    // Record every text the label shows, from the message thread, as reports are handled.
    juce::StringArray seen;
    ASSERT_TRUE (clickToStart (*ui.button));
    ASSERT_TRUE (pumpUntil ([&]
                            {
                                const auto text = ui.label->getText();
                                if (seen.isEmpty() || seen[seen.size() - 1] != text)
                                    seen.add (text);
                                return ui.button->isEnabled(); }));

    EXPECT_EQ (ui.label->getText(), error2);
    EXPECT_EQ (screen.getProgress(), 1.0);

    int last = 0;
    for (const auto& text : seen)
        if (text.startsWith ("step "))
        {
            const auto n = text.fromFirstOccurrenceOf ("step ", false, false).getIntValue();
            EXPECT_GT (n, last) << "report " << n << " applied after " << last;
            last = n;
        }
}

TEST (RunControl, ReportsArrivingAfterTheScreenIsGoneAreDropped)
{
    juce::WaitableEvent reported;
    ScriptedUpdater::script ([&] (ScriptedUpdater::Run& run)
                             {
                                 run.progress (looking, -1.0);
                                 run.finish (false, error1);
                                 reported.signal(); });
    auto screen = std::make_unique<MainComponent>();
    ScreenChildren ui (*screen);

    ASSERT_TRUE (clickToStart (*ui.button));
    pumpUntil ([]
               { return ScriptedUpdater::runsStarted() == 1; });
    ASSERT_TRUE (reported.wait (5000));

    screen = nullptr; // both reports are still queued
    pumpFor (100);
    SUCCEED();
}
