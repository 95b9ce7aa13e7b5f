#include "TestUpdater.h"

#include "CaseName.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
struct WaitCase
{
    const char* name;
    int limitMs;
    int trueFromTest; // the test at which the condition turns true; 0 for never
    bool stopRequested;
    int conditionSleepMs;
    bool expectedResult;
    int expectedTests;
    bool expectedPause;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const WaitCase& c, std::ostream* os)
{
    *os << c.name;
}

class WaitUntilCases : public ::testing::TestWithParam<WaitCase>
{
};

// A wait that pauses consumes the thread's wake-up event; one that does not leaves it signalled.
TEST_P (WaitUntilCases, TestsAndPausesAsExpected)
{
    const auto& c = GetParam();
    TestUpdater updater;

    if (c.stopRequested)
        updater.signalThreadShouldExit();

    updater.notify();

    int tests = 0;
    const auto condition = [&]
    {
        ++tests;

        if (c.conditionSleepMs > 0)
            juce::Thread::sleep (c.conditionSleepMs);

        return c.trueFromTest > 0 && tests >= c.trueFromTest;
    };

    const auto result = updater.waitUntil (condition, c.limitMs);

    EXPECT_EQ (result, c.expectedResult);
    EXPECT_EQ (tests, c.expectedTests);
    EXPECT_EQ (! updater.wait (0), c.expectedPause);
}

INSTANTIATE_TEST_SUITE_P (
    Cases,
    WaitUntilCases,
    ::testing::Values (
        WaitCase { "TrueAtOnce", 1000, 1, false, 0, true, 1, false },
        WaitCase { "LimitZero", 0, 0, false, 0, false, 1, false },
        WaitCase { "NegativeLimitActsAsZero", -5, 0, false, 0, false, 1, false },
        WaitCase { "StopAlreadyRequested", 1000, 0, true, 0, false, 1, false },
        WaitCase { "TrueWinsOverStopRequest", 1000, 1, true, 0, true, 1, false },
        WaitCase { "ConditionTimeCountsTowardsLimit", 100, 0, false, 150, false, 1, false },
        WaitCase { "TrueAtThirdTest", 5000, 3, false, 0, true, 3, true }),
    CaseName());

TEST (WaitUntil, GivesUpOnlyOnceTheLimitHasPassed)
{
    TestUpdater updater;
    int tests = 0;

    const auto condition = [&]
    {
        ++tests;
        return false;
    };

    const auto start = juce::Time::getMillisecondCounter();
    const auto result = updater.waitUntil (condition, 500);
    const auto elapsed = juce::Time::getMillisecondCounter() - start;

    EXPECT_FALSE (result);
    EXPECT_GE (elapsed, 500u);
    EXPECT_GE (tests, 2);
    EXPECT_LT (elapsed, 5000u); // hang detection only
}

TEST (WaitUntil, StopDuringAPauseEndsItAndTestsOnceMore)
{
    TestUpdater updater;
    std::atomic<int> tests { 0 };
    std::atomic<bool> result { true };

    const auto condition = [&]
    {
        ++tests;
        return false;
    };

    updater.body = [&]
    { result = updater.waitUntil (condition, 20000); };

    updater.startThread();

    while (tests == 0)
        juce::Thread::sleep (1);

    juce::Thread::sleep (30); // well inside the first 200 ms pause
    EXPECT_TRUE (updater.stopThread (10000));

    EXPECT_FALSE (result);
    EXPECT_EQ (tests, 2);
    EXPECT_FALSE (updater.wait (0)) << "the stop's wake-up was not what ended the pause";
}

TEST (FirmwareUpdaterObject, StartsIdleAndIsDestroyedAtOnceWhenNotRunning)
{
    auto updater = std::make_unique<TestUpdater>();

    EXPECT_FALSE (updater->isBusy());
    EXPECT_FALSE (updater->isThreadRunning());
    EXPECT_EQ (updater->getThreadName(), "Firmware updater");

    const auto start = juce::Time::getMillisecondCounter();
    updater.reset();
    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 5000u); // hang detection only
}
} // namespace
