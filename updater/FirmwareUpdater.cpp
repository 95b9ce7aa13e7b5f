#include "updater/FirmwareUpdater.h"

FirmwareUpdater::FirmwareUpdater (ProgressCallback progressCallback,
                                  FinishedCallback finishedCallback,
                                  DeferredQuitCallback deferredQuitCallback)
    : juce::Thread ("Firmware updater")
    , onProgress (std::move (progressCallback))
    , onFinished (std::move (finishedCallback))
    , onDeferredQuit (std::move (deferredQuitCallback))
{
}

FirmwareUpdater::~FirmwareUpdater()
{
    stopThread (30000);
}

bool FirmwareUpdater::waitUntil (std::function<bool()> condition, int limitMs)
{
    // Held in a local so that whatever the condition captures is released before we return.
    const auto test = std::move (condition);
    const auto start = juce::Time::getMillisecondCounter();

    for (;;)
    {
        if (test())
            return true;

        if (threadShouldExit())
            return false;

        // Unsigned subtraction stays right when the counter wraps; a negative limit acts as 0.
        const juce::uint32 elapsed = juce::Time::getMillisecondCounter() - start;

        if ((juce::int64) elapsed >= (juce::int64) limitMs)
            return false;

        // Sleeps on the thread's event, which stopThread signals, so a stop ends the pause at once.
        wait (200);
    }
}
